#include "panels/CBasicPanelDlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QStatusBar>
#include <QThread>
#include <QVBoxLayout>

#include "dialogs/CDlgCommNew.h"
#include "panels/CPanelSessionView.h"
#include "resources/ids.h"
#include "session/ActivityLog.h"

namespace {

struct MenuItem {
    int id;
    const char* text;
};

constexpr MenuItem kMenu[] = {
    {qv::ids::kCmdConnect, "Connect"},
    {qv::ids::kCmdDisconnect, "Disconnect"},
    {qv::ids::kCmdStart, "Start"},
    {qv::ids::kCmdStop, "Stop"},
    {qv::ids::kCmdCommunication, "Communication"},
};

}  // namespace

CBasicPanelDlg::CBasicPanelDlg(qv::SettingsStore& store, qv::PanelTraits traits, QWidget* parent,
                               std::uint16_t port)
    : CRemoteDlg(qv::ids::kDlgHardKeyPanel, parent),
      store_(store),
      view_(new CPanelSessionView(this)),
      menu_(new QMenu(this)),
      screen_(new QLabel(this)) {
    setWindowTitle(QApplication::applicationName());
    screen_->setObjectName(QStringLiteral("screen"));
    screen_->setFixedSize(800, 600);
    screen_->setAlignment(Qt::AlignCenter);
    screen_->setStyleSheet(QStringLiteral("background: #101418; color: #8090a0;"));
    screen_->setText(tr("Right-click for Connect, Start and Communication"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(screen_);
    layout->addWidget(view_->statusBar());
    view_->SetClientWidth(800);
    for (const MenuItem& item : kMenu) {
        QAction* action = menu_->addAction(QString::fromLatin1(item.text));
        action->setData(item.id);
        view_->AddAction(item.id, action);
        connect(action, &QAction::triggered, this, [this, id = item.id] { Command(id); });
    }
    if (port != 0) {
        engine_.SetPort(port);
    }
    session_ =
        std::make_unique<qv::SessionController>(engine_, store_, *view_, std::move(traits), this);
    session_->sendKey = [this](const std::string& text) { SendKey(text); };
    view_->onTimer = [this](int id) { session_->OnTimer(id); };
    session_->Create();
}

CBasicPanelDlg::~CBasicPanelDlg() {
    Shutdown();
}

void CBasicPanelDlg::OnResponseReady(int flag) {
    session_->OnResponseReady(flag);
}

void CBasicPanelDlg::SendKey(std::string text) {
    if (engine_.SendText(qv::kCmdRequest, qv::REQ_CMD, text) != 1) {
        qv::ActivityLog::Instance().Write("SendKey Fail : " + text);
    }
}

void CBasicPanelDlg::Command(int id) {
    switch (id) {
        case qv::ids::kCmdConnect:
            session_->Connect();
            break;
        case qv::ids::kCmdDisconnect:
            session_->Disconnect();
            break;
        case qv::ids::kCmdStart:
            session_->Start();
            break;
        case qv::ids::kCmdStop:
            session_->Stop();
            break;
        case qv::ids::kCmdCommunication: {
            CDlgCommNew dlg(store_, this);
            if (dlg.exec() == QDialog::Accepted) {
                session_->ReloadSettings();
            }
            break;
        }
        default:
            break;
    }
}

void CBasicPanelDlg::contextMenuEvent(QContextMenuEvent* event) {
    menu_->exec(event->globalPos());
}

void CBasicPanelDlg::Shutdown() {
    if (closed_) {
        return;
    }
    closed_ = true;
    // A connect thread waiting for this window must finish before the session closes.
    view_->Shutdown();
    while (session_->Connecting()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    session_->Close(nullptr);
}

void CBasicPanelDlg::closeEvent(QCloseEvent* event) {
    Shutdown();
    event->accept();
    CRemoteDlg::closeEvent(event);
}

void CBasicPanelDlg::done(int result) {
    Shutdown();
    CRemoteDlg::done(result);
}
