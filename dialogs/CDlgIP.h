// The IP address dialog: one IPv4 address, given and returned as dotted text.
#pragma once

#include <QDialog>
#include <string>

class CIpAddressCtrl;
class QPushButton;

class CDlgIP : public QDialog {
    Q_OBJECT
  public:
    explicit CDlgIP(QWidget* parent = nullptr);

    std::string m_strIp;  // the panel's IPv4 address; rewritten on OK only

    void OnOK();

  protected:
    virtual void OnInitDialog();
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    CIpAddressCtrl* address_;
    QPushButton* ok_;
};
