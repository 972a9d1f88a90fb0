#include "dialogs/CDlgMsg.h"

#include <QLabel>
#include <QPushButton>
#include <QShowEvent>

#include "dialogs/DialogUnits.h"
#include "resources/ids.h"

namespace ids = qv::ids;

namespace {

// The template's lines; reasons other than 3 keep them.
constexpr const char* kHeading =
    "Remote Controller cannot connect to the remote instrument for the one of these reasons:";
constexpr const char* kLine1 = "  1) The remote instrument is turned off";
constexpr const char* kLine2 = "  2) The remote instrument is not available on the network";
constexpr const char* kAdvice =
    "Make sure the remote instrument is turned on and connected to the network";

constexpr const char* kBusyLine1 = "  1) IP you entered is being used by another program";
constexpr const char* kBusyLine2 = "  2) The remote instrument is being used by another program";
constexpr const char* kBusyAdvice =
    "Make sure the remote instrument is connected to the network, and no other program is "
    "connected to it.  If you are not sure, try again after rebooting the remote instrument.";

struct Placed {
    int id;
    int x, y, w, h;
};

constexpr Placed kLayout[] = {
    {ids::kMsgHeading, 7, 7, 306, 12},
    {ids::kMsgLine1, 7, 21, 306, 12},
    {ids::kMsgLine2, 7, 33, 306, 12},
    {ids::kMsgAdvice, 7, 50, 306, 16},
};

}  // namespace

CDlgMsg::CDlgMsg(int reason, QWidget* parent) : QDialog(parent), reason_(reason) {
    setWindowTitle(QStringLiteral("Connection Failed"));
    setProperty("ctrlId", ids::kDlgMsg);
    const qv::DialogUnits du(qv::DialogUnits::DialogFont(8));
    du.ApplyTemplate(*this, 320, 90);

    ok_ = new QPushButton(QStringLiteral("OK"), this);
    qv::TagControl(*ok_, ids::kIdOk);
    du.Place(*ok_, 263, 69, 50, 14);
    ok_->setDefault(true);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);

    heading_ = new QLabel(QString::fromLatin1(kHeading), this);
    line1_ = new QLabel(QString::fromLatin1(kLine1), this);
    line2_ = new QLabel(QString::fromLatin1(kLine2), this);
    advice_ = new QLabel(QString::fromLatin1(kAdvice), this);
    QLabel* labels[] = {heading_, line1_, line2_, advice_};
    for (std::size_t i = 0; i < std::size(kLayout); ++i) {
        const Placed& p = kLayout[i];
        labels[i]->setTextFormat(Qt::PlainText);
        labels[i]->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        labels[i]->setWordWrap(true);
        qv::TagControl(*labels[i], p.id);
        du.Place(*labels[i], p.x, p.y, p.w, p.h);
    }
    // Shown by the initialisation, whatever the reason.
    advice_->setVisible(false);
}

void CDlgMsg::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        OnInitDialog();
    }
    QDialog::showEvent(event);
}

void CDlgMsg::OnInitDialog() {
    if (reason_ == 1 || reason_ == 3) {
        setWindowTitle(QStringLiteral("Connection Failed"));
    } else {
        setWindowTitle(QStringLiteral("Cannot Connect to the Intrument"));
    }
    if (reason_ == 3) {
        line1_->setText(QString::fromLatin1(kBusyLine1));
        line2_->setText(QString::fromLatin1(kBusyLine2));
        advice_->setText(QString::fromLatin1(kBusyAdvice));
    }
    advice_->setVisible(true);
}
