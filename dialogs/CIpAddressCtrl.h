// The IPv4 address control: four fields of 0 to 255 between dots, one tab stop. Typing "."
// moves on to the next field, a third digit does too, and a field never holds more than 255.
#pragma once

#include <QFrame>
#include <array>

#include "dialogs/DottedQuad.h"

class QLabel;
class QLineEdit;

class CIpAddressCtrl : public QFrame {
    Q_OBJECT
  public:
    explicit CIpAddressCtrl(QWidget* parent = nullptr);

    void SetAddress(const qv::Quad& address);
    // Blank fields count as 0.
    qv::Quad GetAddress() const;
    void ClearAddress();
    bool IsBlank() const;

    // Field i (0..3), first field most significant.
    QLineEdit* Field(int i) const { return fields_[static_cast<std::size_t>(i)]; }

  signals:
    void addressChanged();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    QSize sizeHint() const override;

  private:
    int IndexOf(QObject* watched) const;
    void FocusField(int i, bool selectAll, bool atEnd);
    void OnEdited(int i);

    std::array<QLineEdit*, 4> fields_{};
    std::array<QLabel*, 3> dots_{};
};
