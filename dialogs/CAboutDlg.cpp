#include "dialogs/CAboutDlg.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>

#include "QvVersion.h"
#include "dialogs/DialogUnits.h"
#include "resources/ids.h"
#include "widgets/SkinLibrary.h"

namespace ids = qv::ids;

namespace {

constexpr const char* kProduct = "Remote";
constexpr const char* kVendor = "Orvane Instruments";
constexpr int kIconPixels = 32;  // a dialog icon control shows the icon at its large size

}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setProperty("ctrlId", ids::kDlgAbout);
    const qv::DialogUnits du(qv::DialogUnits::DialogFont(9));
    du.ApplyTemplate(*this, 197, 62);

    icon_ = new QLabel(this);
    icon_->setObjectName(QStringLiteral("ctrlIcon%1").arg(ids::kIconApp));
    icon_->setGeometry(du.X(14), du.Y(14), kIconPixels, kIconPixels);

    version_ = new QLabel(this);
    version_->setTextFormat(Qt::PlainText);  // no prefix processing
    qv::TagControl(*version_, ids::kAboutVersion);
    du.Place(*version_, 42, 14, 141, 8);

    vendor_ = new QLabel(QString::fromLatin1(kVendor), this);
    vendor_->setTextFormat(Qt::PlainText);
    qv::TagControl(*vendor_, ids::kAboutVendor);
    du.Place(*vendor_, 42, 26, 141, 8);

    ok_ = new QPushButton(QStringLiteral("OK"), this);
    qv::TagControl(*ok_, ids::kIdOk);
    du.Place(*ok_, 140, 41, 50, 14);
    ok_->setDefault(true);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
}

void CAboutDlg::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        OnInitDialog();
    }
    QDialog::showEvent(event);
}

void CAboutDlg::OnInitDialog() {
    setWindowTitle(QString::asprintf("QV%s Infomation", kProduct));
    version_->setText(QString::asprintf("QV%s, Version %s", kProduct, qv::kVersion));
    // Icon 128 itself, as the skin holds it: not whatever icon the application was given.
    const QIcon icon = qv::SkinIcon(ids::kIconApp);
    icon_->setPixmap(icon.isNull() ? QPixmap() : icon.pixmap(kIconPixels, kIconPixels));
}
