#include "dialogs/CDlgCommNew.h"

#include <QButtonGroup>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>

#include "dialogs/CIpAddressCtrl.h"
#include "dialogs/DialogUnits.h"
#include "dialogs/DottedQuad.h"
#include "resources/ids.h"
#include "session/SettingsStore.h"

namespace ids = qv::ids;

namespace {

QString FromBytes(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

CDlgCommNew::CDlgCommNew(qv::SettingsStore& store, QWidget* parent)
    : QDialog(parent), store_(store) {
    setWindowTitle(QStringLiteral("Communication"));
    setProperty("ctrlId", ids::kDlgCommNew);
    const qv::DialogUnits du(qv::DialogUnits::DialogFont(8));
    du.ApplyTemplate(*this, 240, 106);

    ipv4Radio_ = new QRadioButton(QStringLiteral("TCP/IP (IPv4)"), this);
    ipv4_ = new CIpAddressCtrl(this);
    ipv6Radio_ = new QRadioButton(QStringLiteral("TCP/IP (IPv6)"), this);
    ipv6_ = new QLineEdit(this);
    // No longer than the settings keep: what is confirmed here is what the next start finds.
    ipv6_->setMaxLength(static_cast<int>(qv::kMaxSettingText));
    usbRadio_ = new QRadioButton(QStringLiteral("USB"), this);
    ok_ = new QPushButton(QStringLiteral("OK"), this);

    qv::TagControl(*ipv4Radio_, ids::kCommIpv4Radio);
    qv::TagControl(*ipv6Radio_, ids::kCommIpv6Radio);
    qv::TagControl(*usbRadio_, ids::kCommUsbRadio);
    qv::TagControl(*ipv4_, ids::kCommIpv4Address);
    qv::TagControl(*ipv6_, ids::kCommIpv6Edit);
    qv::TagControl(*ok_, ids::kCommOk);

    // Wide enough for a full-length IPv6 text.
    du.Place(*ipv4Radio_, 10, 12, 66, 12);
    du.Place(*ipv4_, 80, 11, 150, 14);
    du.Place(*ipv6Radio_, 10, 36, 66, 12);
    du.Place(*ipv6_, 80, 35, 150, 14);
    du.Place(*usbRadio_, 10, 60, 66, 12);
    du.Place(*ok_, 95, 84, 50, 14);

    // Not the dialog's default command: Enter reaches keyPressEvent from every control.
    ok_->setAutoDefault(false);
    ok_->setDefault(false);

    radios_ = new QButtonGroup(this);
    radios_->addButton(ipv4Radio_, ids::kCommIpv4Radio);
    radios_->addButton(ipv6Radio_, ids::kCommIpv6Radio);
    radios_->addButton(usbRadio_, ids::kCommUsbRadio);
    connect(radios_, &QButtonGroup::idClicked, this, &CDlgCommNew::ApplyMethod);
    connect(ok_, &QPushButton::clicked, this, &CDlgCommNew::OnOK);
}

void CDlgCommNew::ApplyMethod(int radioId) {
    ipv4_->setEnabled(radioId == ids::kCommIpv4Radio);
    ipv6_->setEnabled(radioId == ids::kCommIpv6Radio);
}

void CDlgCommNew::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        OnInitDialog();
    }
    QDialog::showEvent(event);
}

void CDlgCommNew::OnInitDialog() {
    if (!store_.KeyExists()) {
        ipv4_->SetAddress(qv::Quad{0, 0, 0, 0});
        m_strIpv6 = qv::kDefaultIpv6;
    } else {
        std::string stored;
        if (store_.ReadText(qv::kSetIp, stored)) {
            m_strIpv4 = stored;
        }
        ipv4_->SetAddress(qv::ParseDottedQuad(m_strIpv4));
        if (store_.ReadText(qv::kSetIpv6, stored)) {
            m_strIpv6 = stored;
        } else {
            m_strIpv6 = qv::kDefaultIpv6;
        }
    }
    ipv6_->setText(FromBytes(m_strIpv6));
    ipv6_->setCursorPosition(0);

    int radio = ids::kCommUsbRadio;
    if (m_nMethod == 1) {
        radio = ids::kCommIpv4Radio;
    } else if (m_nMethod == 3) {
        radio = ids::kCommIpv6Radio;
    }
    radios_->button(radio)->setChecked(true);
    ApplyMethod(radio);
    // The current method has the focus: the arrow keys change it, Tab goes on to its address.
    radios_->button(radio)->setFocus(Qt::OtherFocusReason);
}

void CDlgCommNew::OnOK() {
    m_strIpv4 = qv::FormatDottedQuad(ipv4_->GetAddress());
    const QByteArray ipv6 = ipv6_->text().toLatin1();
    m_strIpv6.assign(ipv6.constData(), static_cast<std::size_t>(ipv6.size()));
    if (ipv4Radio_->isChecked()) {
        m_nMethod = 1;
    } else if (ipv6Radio_->isChecked()) {
        m_nMethod = 3;
    } else {
        m_nMethod = 2;
    }
    accept();
}

void CDlgCommNew::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            event->accept();
            OnOK();
            return;
        case Qt::Key_Escape:
            event->accept();  // Esc does not close this dialog; the close box does
            return;
        default:
            QDialog::keyPressEvent(event);
    }
}
