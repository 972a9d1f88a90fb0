// The communication dialog: link method and the two addresses. The caller fills the three
// members, runs the dialog and, on Accepted, takes them back; storing them is the caller's.
#pragma once

#include <QDialog>
#include <string>

class CIpAddressCtrl;
class QButtonGroup;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace qv {
class SettingsStore;
}

class CDlgCommNew : public QDialog {
    Q_OBJECT
  public:
    explicit CDlgCommNew(qv::SettingsStore& store, QWidget* parent = nullptr);

    std::string m_strIpv4;  // dotted IPv4 address
    std::string m_strIpv6;  // IPv6 address text
    int m_nMethod = 2;      // 1 TCP/IPv4, 2 USB, 3 TCP/IPv6

    // The accept step of the OK button and of Enter.
    void OnOK();

  protected:
    // Runs each time the dialog is shown: stored addresses and the method into the controls.
    virtual void OnInitDialog();
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void ApplyMethod(int radioId);

    qv::SettingsStore& store_;
    QRadioButton* ipv4Radio_;
    QRadioButton* ipv6Radio_;
    QRadioButton* usbRadio_;
    QButtonGroup* radios_;
    CIpAddressCtrl* ipv4_;
    QLineEdit* ipv6_;
    QPushButton* ok_;
};
