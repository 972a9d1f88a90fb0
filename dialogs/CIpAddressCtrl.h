// The IPv4 address control: four fields of 0 to 255 between dots. It takes addresses the way
// people type them: digits fill a field, "." or a third digit moves on to the next field (a
// "." right after such a move is the dot the user meant, not a second one), Backspace at a
// field's start goes back, Tab and Shift+Tab move through the fields and out, and a pasted
// "10.0.0.5" fills all four. A field over 255 shows 255; a field left shows its number
// without leading zeros.
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

    // A whole dotted address fills every field; a plain number goes into field i. False (and
    // nothing changes) for anything else.
    bool PasteText(int i, const QString& text);

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
    bool OnKey(int i, QKeyEvent& key);
    void ShowContextMenu(int i, const QPoint& globalPos);

    std::array<QLineEdit*, 4> fields_{};
    std::array<QLabel*, 3> dots_{};
    // The field the last third digit moved to, until something is typed there.
    int advancedTo_ = -1;
    // Something was typed into the field since it took the focus.
    std::array<bool, 4> typedIn_{};
};
