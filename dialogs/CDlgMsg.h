// The connection-failed message. The reason picks the title and, for reason 3 (equipment
// information not read over TCP), the explanations.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

class CDlgMsg : public QDialog {
    Q_OBJECT
  public:
    // reason: 1 TCP link not opened, 2 USB link not opened or silent, 3 no equipment
    // information over TCP; any other value reads as 2.
    explicit CDlgMsg(int reason, QWidget* parent = nullptr);

    int Reason() const { return reason_; }

  protected:
    virtual void OnInitDialog();
    void showEvent(QShowEvent* event) override;

  private:
    int reason_;
    QLabel* heading_;
    QLabel* line1_;
    QLabel* line2_;
    QLabel* advice_;
    QPushButton* ok_;
};
