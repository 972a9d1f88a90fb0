#include "panels/PanelSession.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QNetworkInterface>
#include <QStatusBar>
#include <vector>

#include "dialogs/CAboutDlg.h"
#include "dialogs/CDlgCommNew.h"
#include "dialogs/CDlgIP.h"
#include "dialogs/CDlgMsg.h"
#include "panels/CPanelDlg.h"
#include "panels/CPanelSessionView.h"
#include "panels/CScreenView.h"
#include "panels/PaneNote.h"
#include "panels/ScreenCapture.h"
#include "panels/ShareKeys.h"
#include "panels/VideoExport.h"
#include "resources/ids.h"
#include "session/Controls.h"
#include "session/LivePacing.h"
#include "share/ShareSession.h"

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

// Index: the stored "LiveRate".
constexpr ScaleItem kLiveRate[] = {
    {ids::kCmdLiveNormal, "Normal"},
    {ids::kCmdLiveResponsive, "Responsive"},
    {ids::kCmdLiveFast, "Fast"},
};

}  // namespace

PanelSession::PanelSession(CPanelDlg& window, qv::SettingsStore& store, Options options)
    : QObject(&window),
      window_(window),
      store_(store),
      options_(options),
      view_(new CPanelSessionView(&window)),
      screen_(new CScreenView(options_.screenSize, &window)),
      menu_(new QMenu(&window)),
      capture_(new ScreenCapture(this)),
      export_(new VideoExport(window, this)),
      paneNote_(new PaneNote([this](const QString& text) { view_->SetPaneText(0, text); }, this)),
      renderer_(options_.traits.softKey) {
    screen_->setObjectName(QStringLiteral("ctrl%1").arg(ids::kHardScreenPicture));
    // The picture lets mouse input through: a press on it reaches the panel (touch, menu).
    screen_->setAttribute(Qt::WA_TransparentForMouseEvents);
    if (options_.port != 0) {
        engine_.SetPort(options_.port);
    }
    connect(capture_, &ScreenCapture::note, this, &PanelSession::ShowNote);
    connect(export_, &VideoExport::note, this, &PanelSession::ShowNote);
    connect(capture_, &ScreenCapture::recordingChanged, this, [this] { ShowRecording(); });
    BuildMenu();
}

PanelSession::~PanelSession() {
    Shutdown();
}

void PanelSession::Init() {
    session_ = std::make_unique<qv::SessionController>(engine_, store_, options_.traits);
    // The recording ends first, so the state applied shows it ended.
    connect(session_.get(), &qv::SessionController::stateChanged, this,
            &PanelSession::EndRecordingWithStream);
    connect(session_.get(), &qv::SessionController::stateChanged, this, &PanelSession::ApplyState);
    connect(session_.get(), &qv::SessionController::paneText, this, &PanelSession::SetPane);
    connect(session_.get(), &qv::SessionController::message, this, &PanelSession::ShowMessage);
    connect(session_.get(), &qv::SessionController::failure, this, &PanelSession::ShowFailure);
    session_->Create();
    quality_ = session_->settings().quality;
    share_ = std::make_unique<qv::share::ShareSession>(*session_, options_.traits.softKey);
    connect(share_.get(), &qv::share::ShareSession::viewersChanged, this, [this](int n) {
        shareMark_ =
            share_->server().Listening() ? qv::share::ShareSession::PaneText(n) : QString();
        ShowMark();
    });
    connect(share_.get(), &qv::share::ShareSession::started, this, &PanelSession::OnShareStarted);
}

void PanelSession::StartWorker() {
    if (!session_) {
        return;
    }
    // Installed after the panel's own filter, so it sees Esc first.
    qApp->installEventFilter(this);
    session_->StartWorkers([this](const std::string& path) {
        std::vector<std::uint8_t> jpeg;
        auto frame = renderer_.Render(path, &jpeg);
        if (frame) {
            // Kept (and recorded) as received: the bytes the frame was decoded from.
            // Viewers in a browser get the frame as it came, as the window shows it.
            share_->PushFrame(QByteArray(reinterpret_cast<const char*>(jpeg.data()),
                                         static_cast<qsizetype>(jpeg.size())));
            capture_->FrameDrawn(
                std::make_shared<const std::vector<std::uint8_t>>(std::move(jpeg)));
            screen_->PostFrame(std::move(*frame));
        }
        return frame.has_value();
    });
}

void PanelSession::Shutdown() {
    if (closed_) {
        return;
    }
    closed_ = true;
    qApp->removeEventFilter(this);
    // Every viewer ends with the window, before the session goes.
    if (share_) {
        share_->Stop();
    }
    // An export under way stops at its next frame and leaves nothing behind.
    export_->Cancel();
    // A drawing thread waiting for room in the recording's queue goes on to its end.
    capture_->StopRecording();
    if (session_) {
        session_->Close();
    }
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
    if (session_) {
        session_->SendKey(std::move(text));
    }
}

void PanelSession::Touch(QPoint clientPoint) {
    if (!session_) {
        return;
    }
    if (const auto touch = session_->Touch(clientPoint.x(), clientPoint.y(), screenRect_, scale_)) {
        SendKey(*touch);
    }
}

bool PanelSession::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && session_ && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->window() == &window_ &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape &&
        (session_->Connecting() || session_->linkState() == qv::LinkState::Reconnecting)) {
        session_->CancelConnect();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void PanelSession::SetPane(int pane, const QString& text) {
    if (pane == 0) {
        paneNote_->SetBase(text);
    } else {
        view_->SetPaneText(pane, text);
    }
}

void PanelSession::ShowNote(const QString& text, int seconds) {
    paneNote_->Show(text, seconds);
}

QString PanelSession::PaneZeroText() const {
    return paneNote_->Text();
}

void PanelSession::ShowMark() {
    QStringList parts;
    if (capture_->Recording()) {
        parts << QStringLiteral("REC %1").arg(capture_->RecordedFrames());
    }
    if (!shareMark_.isEmpty()) {
        parts << shareMark_;
    }
    paneNote_->SetMark(parts.join(QStringLiteral(" \u00b7 ")));
}

void PanelSession::ShowRecording() {
    // The signal may have been queued before the recording ended: the capture says how it is.
    const bool recording = capture_->Recording();
    ShowMark();
    if (QAction* a = Action(ids::kCmdRecord)) {
        a->setChecked(recording);
    }
}

void PanelSession::ToggleRecord() {
    if (capture_->Recording()) {
        capture_->StopRecording();
    } else if (session_ && Controls().record) {
        capture_->StartRecording();
    }
    ShowRecording();
}

void PanelSession::ShowMessage(const QString& text) {
    // Opened, not run: no worker and no nested loop waits for the user's OK.
    auto* box = new QMessageBox(QMessageBox::NoIcon, QApplication::applicationName(), text,
                                QMessageBox::Ok, &window_);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void PanelSession::ShowFailure(int reason) {
    auto* dlg = new CDlgMsg(reason, &window_);
    dlg->setAttribute(Qt::WA_DeleteOnClose);
    dlg->open();
}

qv::ControlStates PanelSession::Controls() const {
    return qv::ControlsFor(session_->linkState(), session_->Streaming(), options_.networkUp);
}

void PanelSession::EndRecordingWithStream() {
    if (session_ && !qv::FramesMayFollow(session_->linkState(), session_->Streaming())) {
        capture_->StopRecording();
    }
}

void PanelSession::ApplyState() {
    if (!session_) {
        return;
    }
    const qv::LinkState link = session_->linkState();
    const bool streaming = session_->Streaming();
    const qv::ControlStates c = Controls();
    const auto set = [this](int id, const qv::ControlStates::Item& item) {
        if (QAction* a = Action(id)) {
            a->setEnabled(item.enabled);
            a->setChecked(item.checked);
        }
    };
    set(ids::kCmdConnect, c.connect);
    if (QAction* a = Action(ids::kCmdConnect)) {
        a->setText(c.connectCancels ? QStringLiteral("Cancel connecting")
                                    : QStringLiteral("Connect"));
    }
    set(ids::kCmdDisconnect, c.disconnect);
    set(ids::kCmdStart, c.start);
    set(ids::kCmdStop, c.stop);
    for (int i = 0; i < 3; ++i) {
        set(kQuality[i].id, {c.quality, quality_ == i});
    }
    if (options_.scaleItems) {
        for (int i = 0; i < 3; ++i) {
            set(kScale[i].id, {c.scale, scale_ == i});
        }
    }
    set(ids::kCmdRecord, {c.record, capture_->Recording()});
    for (int i = 0; i < qv::kLiveRateCount; ++i) {
        set(kLiveRate[i].id, {c.liveRate, session_->LiveRateSetting() == i});
    }
    set(ids::kCmdAutoReconnect, {c.always, session_->AutoReconnect()});
    for (const int id : {ids::kCmdScreenMode, ids::kCmdCommunication, ids::kCmdSaveScreen,
                         ids::kCmdCopyScreen, ids::kCmdAbout}) {
        if (QAction* a = Action(id)) {
            a->setEnabled(c.always);
        }
    }
    window_.SetKeysEnabled(c.keys);
    switch (link) {
        case qv::LinkState::Connected:
            view_->SetPaneText(1, QString::fromUtf8(qv::kTextConnected));
            view_->SetLinkIcon(ids::kIconConnected);
            break;
        case qv::LinkState::Connecting:
            view_->SetPaneText(1, QString::fromUtf8(qv::kTextConnecting));
            break;
        case qv::LinkState::Reconnecting:
            view_->SetPaneText(1, QStringLiteral("Reconnecting\u2026"));
            view_->SetLinkIcon(ids::kIconDisconnected);
            break;
        case qv::LinkState::Disconnected:
            view_->SetPaneText(1, QString::fromUtf8(qv::kTextDisconnected));
            view_->SetLinkIcon(ids::kIconDisconnected);
            break;
    }
    view_->SetPaneText(2, QString::fromUtf8(streaming ? qv::kTextStarted : qv::kTextStopped));
    screen_->SetLive(streaming && link == qv::LinkState::Connected);
    screen_->SetOverlay(link == qv::LinkState::Reconnecting
                            ? QStringLiteral("Link lost \u2014 reconnecting (attempt %1)")
                                  .arg(session_->ReconnectAttempt())
                            : QString());
    window_.update();
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
    add(*menu_, ids::kCmdConnect, "Connect");
    add(*menu_, ids::kCmdDisconnect, "Disconnect");
    menu_->addSeparator();
    add(*menu_, ids::kCmdStart, "Start");
    add(*menu_, ids::kCmdStop, "Stop");
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
    add(*menu_, ids::kCmdAutoReconnect, "Reconnect automatically");
    QAction* share = add(*menu_, ids::kCmdShare, "Share in browser\u2026");
    share->setCheckable(false);
    // Below the link, display and Communication items, so those keep the places users know.
    menu_->addSeparator();
    // Keeping screens; the two shortcuts work on the window whether the menu is open or not.
    QAction* save = add(*menu_, ids::kCmdSaveScreen, "Save screen\u2026");
    save->setCheckable(false);
    save->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    window_.addAction(save);
    QAction* copy = add(*menu_, ids::kCmdCopyScreen, "Copy screen");
    copy->setCheckable(false);
    copy->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
    window_.addAction(copy);
    add(*menu_, ids::kCmdRecord, "Record");
    QAction* exportItem = add(*menu_, ids::kCmdExportRecording, "Export recording\u2026");
    exportItem->setCheckable(false);
    QMenu* live = menu_->addMenu(QStringLiteral("Live rate"));
    for (const ScaleItem& item : kLiveRate) {
        add(*live, item.id, item.text);
    }
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
    ApplyState();
    if (QAction* a = Action(ids::kCmdScreenMode)) {
        a->setChecked(screenMode);
    }
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
    ApplyState();
}

bool PanelSession::Command(int id) {
    if (!session_) {
        return id != ids::kCmdScreenMode && id != ids::kCmdScale100 && id != ids::kCmdScale85 &&
               id != ids::kCmdScale70;
    }
    switch (id) {
        case ids::kCmdConnect:
            if (session_->Connecting()) {
                session_->CancelConnect();
            } else if (options_.networkUp) {
                session_->Connect();
            }
            return true;
        case ids::kCmdAutoReconnect:
            session_->SetAutoReconnect(!session_->AutoReconnect());
            ApplyState();
            return true;
        case ids::kCmdDisconnect:
            // Disconnect ends every viewer at once, as closing the window does.
            StopShare();
            session_->Disconnect();
            return true;
        case ids::kCmdShare:
            OpenShareDialog();
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
        case ids::kCmdSaveScreen:
            capture_->SaveScreen(QString::fromStdString(session_->ModelName()));
            return true;
        case ids::kCmdCopyScreen:
            capture_->CopyScreen();
            return true;
        case ids::kCmdExportRecording:
            export_->PickAndExport();
            return true;
        case ids::kCmdRecord:
            ToggleRecord();
            return true;
        case ids::kCmdLiveNormal:
        case ids::kCmdLiveResponsive:
        case ids::kCmdLiveFast:
            session_->SetLiveRate(id - ids::kCmdLiveNormal);
            ApplyState();
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

bool PanelSession::ApplyShare(const ShareChoice& choice, QString& error) {
    if (!share_) {
        error = QStringLiteral("no session");
        return false;
    }
    StopShare();
    if (choice.mode == ShareChoice::Off) {
        return true;
    }
    qv::share::ShareConfig config;
    if (choice.allNetworks) {
        config.addresses = {QHostAddress(QHostAddress::Any)};
    }
    config.port = static_cast<quint16>(choice.port);
    config.control = choice.mode == ShareChoice::Control;
    config.certFile = choice.certFile;
    config.keyFile = choice.keyFile;
    config.keys = qv::ShareKeysFor(options_.traits.softKey);
    if (!share_->Start(config, error)) {
        return false;
    }
    shareChoice_ = choice;
    return true;
}

void PanelSession::OnShareStarted(bool ok, const QString& error) {
    if (ok) {
        shareMark_ = qv::share::ShareSession::PaneText(share_->server().Viewers());
    } else {
        shareChoice_.mode = ShareChoice::Off;
        shareMark_.clear();
    }
    ShowMark();
    emit shareStarted(ok ? ShareLinkList() : ShareLinks(), error);
}

void PanelSession::StopShare() {
    if (share_) {
        share_->Stop();
    }
    shareChoice_.mode = ShareChoice::Off;
    shareMark_.clear();
    ShowMark();
}

ShareLinks PanelSession::ShareLinkList() const {
    ShareLinks links;
    if (!share_ || !share_->server().Listening()) {
        return links;
    }
    const qv::share::ShareServer& server = share_->server();
    const QString host = shareChoice_.allNetworks ? qv::share::ShareServer::OutwardAddress()
                                                  : QStringLiteral("127.0.0.1");
    links.append({QStringLiteral("View"), server.ViewLink(host)});
    if (!server.ControlLink(host).isEmpty()) {
        links.append({QStringLiteral("Control"), server.ControlLink(host)});
    }
    return links;
}

void PanelSession::OpenShareDialog() {
    CShareDlg dlg(shareChoice_, &window_);
    dlg.onApply = [this](const ShareChoice& choice, QString& error) {
        return ApplyShare(choice, error);
    };
    connect(this, &PanelSession::shareStarted, &dlg,
            [this, &dlg](const ShareLinks& links, const QString& error) {
                if (error.isEmpty()) {
                    dlg.ShowLinks(links, share_->server().Tls());
                } else {
                    dlg.ShowError(error);
                }
            });
    if (share_ && share_->server().Listening()) {
        dlg.ShowLinks(ShareLinkList(), share_->server().Tls());
    } else if (share_ && share_->server().Running()) {
        dlg.ShowStarting();
    }
    dlg.exec();
}
