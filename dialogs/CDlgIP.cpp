#include "dialogs/CDlgIP.h"

#include <QKeyEvent>
#include <QPushButton>
#include <QShowEvent>

#include "dialogs/CIpAddressCtrl.h"
#include "dialogs/DialogUnits.h"
#include "dialogs/DottedQuad.h"
#include "resources/ids.h"

namespace ids = qv::ids;

CDlgIP::CDlgIP(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("IP Address Setting"));
    setProperty("ctrlId", ids::kDlgIp);
    const qv::DialogUnits du(qv::DialogUnits::DialogFont(9));
    du.ApplyTemplate(*this, 138, 22);

    address_ = new CIpAddressCtrl(this);
    ok_ = new QPushButton(QStringLiteral("OK"), this);
    qv::TagControl(*address_, ids::kIpAddress);
    qv::TagControl(*ok_, ids::kIpOk);
    du.Place(*address_, 3, 3, 87, 15);
    du.Place(*ok_, 96, 3, 36, 15);
    ok_->setAutoDefault(false);
    connect(ok_, &QPushButton::clicked, this, &CDlgIP::OnOK);
}

void CDlgIP::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        OnInitDialog();
    }
    QDialog::showEvent(event);
}

void CDlgIP::OnInitDialog() {
    address_->SetAddress(qv::ParseDottedQuad(m_strIp));
}

void CDlgIP::OnOK() {
    m_strIp = qv::FormatDottedQuad(address_->GetAddress());
    accept();
}

void CDlgIP::keyPressEvent(QKeyEvent* event) {
    // Enter is the dialog's OK command, whichever control has the focus; Esc cancels.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        OnOK();
        return;
    }
    QDialog::keyPressEvent(event);
}
