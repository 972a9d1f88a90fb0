#include "panels/PanelSession.h"

#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QStatusBar>
#include <QThread>

#include "dialogs/CAboutDlg.h"
#include "dialogs/CDlgCommNew.h"
#include "dialogs/CDlgIP.h"
#include "panels/CPanelSessionView.h"
#include "panels/CScreenView.h"
#include "resources/ids.h"
#include "widgets/CRemoteDlg.h"

namespace {

namespace ids = qv::ids;

struct QualityItem {
    int id;
    const char* text;
    const char* command;
};

constexpr QualityItem kQuality[] = {
    {ids::kCmdQualityHigh, "High", "KEYP:QUAL:HIGH"},
    {ids::kCmdQualityMedium, "Medium", "KEYP:QUAL:NORM"},
    {ids::kCmdQualityLow, "Low", "KEYP:QUAL:LOW"},
};

struct ScaleItem {
    int id;
    const char* text;
};

constexpr ScaleItem kScale[] = {
    {ids::kCmdScale100, "100%"},
    {ids::kCmdScale85, "85%"},
    {ids::kCmdScale70, "70%"},
};

}  // namespace

PanelSession::PanelSession(CRemoteDlg& window, qv::SettingsStore& store, Options options)
    : QObject(&window),
      window_(window),
      store_(store),
      options_(std::move(options)),
      view_(new CPanelSessionView(&window)),
      screen_(new CScreenView(options_.screenSize, &window)),
      menu_(new QMenu(&window)),
      renderer_(options_.traits.softKey) {
    screen_->setObjectName(QStringLiteral("ctrl%1").arg(ids::kHardScreenPicture));
    // The picture lets mouse input through: a press on it reaches the panel (touch, menu).
    screen_->setAttribute(Qt::WA_TransparentForMouseEvents);
    if (options_.port != 0) {
        engine_.SetPort(options_.port);
    }
    BuildMenu();
}

PanelSession::~PanelSession() {
    Shutdown();
}

void PanelSession::Init() {
    const bool softKey = options_.traits.softKey;
    session_ =
        std::make_unique<qv::SessionController>(engine_, store_, *view_, options_.traits, &window_);
    session_->sendKey = [this](const std::string& text) { SendKey(text); };
    view_->onTimer = [this](int id) { session_->OnTimer(id); };
    session_->Create();
    quality_ = session_->settings().quality;
    keys_ = std::make_unique<qv::KeySender>(engine_, *session_, softKey);
    loop_ = std::make_unique<qv::ScreenLoop>(engine_, *session_, softKey, window_.FrameLock());
    loop_->draw = [this](const std::string& path) {
        auto frame = renderer_.Render(path);
        if (frame) {
            screen_->PostFrame(std::move(*frame));
        }
        return frame.has_value();
    };
    if (!options_.networkUp) {
        // No sockets: nothing may start a connection.
        view_->EnableControl(ids::kCmdConnect, false);
    }
}

void PanelSession::StartWorker() {
    if (loop_ && !workerStarted_) {
        loop_->Start();
        workerStarted_ = true;
    }
}

void PanelSession::Shutdown() {
    if (closed_ || !session_) {
        closed_ = true;
        return;
    }
    closed_ = true;
    // A connect thread waiting for this window must finish before the session closes.
    view_->Shutdown();
    while (session_->Connecting()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    session_->Close([this] {
        if (workerStarted_) {
            loop_->Stop();
        }
    });
}

QStatusBar* PanelSession::statusBar() const {
    return view_->statusBar();
}

void PanelSession::SetScreenRect(const qv::ScreenRect& rect) {
    screenRect_ = rect;
    screen_->setGeometry(rect.left, rect.top, rect.width(), rect.height());
}

void PanelSession::SetScale(int scaleSetting) {
    scale_ = scaleSetting >= 0 && scaleSetting <= 2 ? scaleSetting : 0;
    renderer_.SetScale(scale_);
}

void PanelSession::PlaceStatusBar(int clientWidth, int clientHeight) {
    constexpr int kHeight = 20;
    view_->statusBar()->setGeometry(0, clientHeight - kHeight, clientWidth, kHeight);
    view_->SetClientWidth(clientWidth);
    view_->statusBar()->raise();
}

void PanelSession::SendKey(std::string text) {
    if (keys_) {
        keys_->SendKey(std::move(text));
    }
}

void PanelSession::Touch(QPoint clientPoint, bool hideKeys) {
    if (!keys_) {
        return;
    }
    if (const auto touch =
            keys_->Touch(clientPoint.x(), clientPoint.y(), screenRect_, scale_, hideKeys)) {
        SendKey(*touch);
    }
}

void PanelSession::BuildMenu() {
    const auto add = [this](QMenu& into, int id, const char* text) {
        QAction* action = into.addAction(QString::fromUtf8(text));
        action->setData(id);
        action->setCheckable(true);
        connect(action, &QAction::triggered, this, [this, id] {
            if (!Command(id) && onPanelCommand) {
                onPanelCommand(id);
            }
        });
        return action;
    };
    const auto track = [this](int id, QAction* action) { view_->AddAction(id, action); };

    track(ids::kCmdConnect, add(*menu_, ids::kCmdConnect, "Connect"));
    track(ids::kCmdDisconnect, add(*menu_, ids::kCmdDisconnect, "Disconnect"));
    menu_->addSeparator();
    track(ids::kCmdStart, add(*menu_, ids::kCmdStart, "Start"));
    track(ids::kCmdStop, add(*menu_, ids::kCmdStop, "Stop"));
    menu_->addSeparator();
    if (options_.scaleItems) {
        QMenu* scale = menu_->addMenu(QStringLiteral("Scale"));
        for (const ScaleItem& item : kScale) {
            add(*scale, item.id, item.text);
        }
    }
    QMenu* quality = menu_->addMenu(QStringLiteral("Quality"));
    for (const QualityItem& item : kQuality) {
        add(*quality, item.id, item.text);
    }
    add(*menu_, ids::kCmdScreenMode, "Screen mode");
    menu_->addSeparator();
    QAction* comm = add(*menu_, ids::kCmdCommunication, "Communication");
    comm->setCheckable(false);
    // No system menu to extend here: the about box sits at the end of this menu.
    menu_->addSeparator();
    QAction* about = add(*menu_, ids::kCmdAbout, "Infomation");
    about->setCheckable(false);
}

QAction* PanelSession::Action(int id) const {
    for (QAction* action : menu_->findChildren<QAction*>()) {
        if (action->data().toInt() == id && !action->isSeparator() && !action->menu()) {
            return action;
        }
    }
    return nullptr;
}

void PanelSession::UpdateMenu(bool screenMode) {
    const bool connected = session_ && session_->IsConnectedState();
    const bool running = session_ && session_->streaming().load() == 1;
    const bool canConnect = options_.networkUp && session_ && !session_->Connecting();
    const auto set = [this](int id, bool enabled, bool checked) {
        if (QAction* a = Action(id)) {
            a->setEnabled(enabled);
            a->setChecked(checked);
        }
    };
    set(ids::kCmdConnect, !connected && canConnect, connected);
    set(ids::kCmdDisconnect, connected && !running, !connected);
    set(ids::kCmdStart, connected && !running, running);
    set(ids::kCmdStop, connected && running, !running);
    for (int i = 0; i < 3; ++i) {
        set(kQuality[i].id, connected, quality_ == i);
    }
    if (options_.scaleItems) {
        for (int i = 0; i < 3; ++i) {
            set(kScale[i].id, true, scale_ == i);
        }
    }
    set(ids::kCmdScreenMode, true, screenMode);
}

void PanelSession::PopupMenu(QPoint globalPos, bool screenMode) {
    UpdateMenu(screenMode);
    menu_->exec(globalPos);
    window_.setFocus();
}

void PanelSession::ChooseQuality(int index) {
    SendKey(kQuality[index].command);
    quality_ = index;
    // Start repeats the chosen quality, stored or not.
    session_->SetQuality(index);
}

bool PanelSession::Command(int id) {
    if (!session_) {
        return id != ids::kCmdScreenMode && id != ids::kCmdScale100 && id != ids::kCmdScale85 &&
               id != ids::kCmdScale70;
    }
    switch (id) {
        case ids::kCmdConnect:
            if (options_.networkUp) {
                session_->Connect();
            }
            return true;
        case ids::kCmdDisconnect:
            session_->Disconnect();
            return true;
        case ids::kCmdStart:
            session_->Start();
            return true;
        case ids::kCmdStop:
            session_->Stop();
            return true;
        case ids::kCmdQualityHigh:
            ChooseQuality(0);
            return true;
        case ids::kCmdQualityMedium:
            ChooseQuality(1);
            return true;
        case ids::kCmdQualityLow:
            ChooseQuality(2);
            return true;
        case ids::kCmdCommunication: {
            CDlgCommNew dlg(store_, &window_);
            const qv::Settings& link = session_->settings();
            dlg.m_strIpv4 = link.ip;
            dlg.m_strIpv6 = link.ipv6;
            dlg.m_nMethod = link.method;
            if (dlg.exec() == QDialog::Accepted) {
                session_->SetLink(dlg.m_nMethod, dlg.m_strIpv4, dlg.m_strIpv6);
            }
            return true;
        }
        case ids::kCmdIpAddress: {
            CDlgIP dlg(&window_);
            dlg.m_strIp = session_->settings().ip;
            if (dlg.exec() == QDialog::Accepted) {
                session_->SetIpv4(dlg.m_strIp, options_.traits.softKey ? "TCP/IP : " : "IP : ");
            }
            return true;
        }
        case ids::kCmdAbout: {
            CAboutDlg about(&window_);
            about.exec();
            return true;
        }
        default:
            return false;
    }
}
