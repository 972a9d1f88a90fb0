#include "panels/CBasicPanelDlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QStatusBar>
#include <QThread>
#include <QVBoxLayout>

#include "dialogs/CDlgCommNew.h"
#include "panels/CPanelSessionView.h"
#include "panels/CScreenView.h"
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
      screen_(new CScreenView(QSize(800, 600), this)),
      renderer_(traits.softKey) {
    setWindowTitle(QApplication::applicationName());
    screen_->setObjectName(QStringLiteral("screen"));
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
    const bool softKey = traits.softKey;
    session_ =
        std::make_unique<qv::SessionController>(engine_, store_, *view_, std::move(traits), this);
    session_->sendKey = [this](const std::string& text) { SendKey(text); };
    view_->onTimer = [this](int id) { session_->OnTimer(id); };
    session_->Create();
    keys_ = std::make_unique<qv::KeySender>(engine_, *session_, softKey);
    loop_ = std::make_unique<qv::ScreenLoop>(engine_, *session_, softKey, FrameLock());
    loop_->draw = [this](const std::string& path) {
        auto frame = renderer_.Render(path);
        if (frame) {
            screen_->PostFrame(std::move(*frame));
        }
        return frame.has_value();
    };
    loop_->Start();
}

CBasicPanelDlg::~CBasicPanelDlg() {
    Shutdown();
}

void CBasicPanelDlg::OnResponseReady(int flag) {
    session_->OnResponseReady(flag);
}

void CBasicPanelDlg::SendKey(std::string text) {
    keys_->SendKey(std::move(text));
}

qv::ScreenRect CBasicPanelDlg::screenRect() const {
    const QRect r = screen_->geometry();
    return {r.left(), r.top(), r.left() + renderer_.DrawnSize().width(),
            r.top() + renderer_.DrawnSize().height()};
}

void CBasicPanelDlg::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        const QPoint p = event->position().toPoint();
        if (const auto touch = keys_->Touch(p.x(), p.y(), screenRect(), 0, true)) {
            SendKey(*touch);
        }
    }
    CRemoteDlg::mousePressEvent(event);
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
    session_->Close([this] { loop_->Stop(); });
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
