#include "session/SessionController.h"

#include <sys/time.h>

#include <QDir>
#include <array>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "link/CommandSet.h"
#include "session/ActivityLog.h"
#include "session/CommandWriter.h"
#include "session/Commands.h"
#include "session/FrameFile.h"
#include "session/ScreenLoop.h"

namespace qv {
namespace {

using namespace std::chrono_literals;

void Log(const std::string& line) {
    ActivityLog::Instance().Write(line);
}

}  // namespace

// What the connect job found; the window's thread applies it.
struct SessionController::ConnectResult {
    enum class Outcome {
        Connected,     // Connected state, watchdog, "Connected" box
        Failed,        // Disconnected state, failure message
        FailedAsWas,   // failure message, the state as before the attempt
        TimeoutAsWas,  // "Timeout" box, the state as before the attempt
    };
    Outcome outcome = Outcome::Failed;
    int reason = 0;
};

PanelTraits PanelTraits::HardKey() {
    return PanelTraits{false, 101};
}

PanelTraits PanelTraits::SoftKey() {
    return PanelTraits{true, 31};
}

SessionController::SessionController(CDevComm& engine, SettingsStore& store, PanelTraits traits,
                                     QObject* parent)
    : QObject(parent), engine_(engine), store_(store), traits_(traits) {
    watchdog_.setInterval(kWatchdogPeriod);
    connect(&watchdog_, &QTimer::timeout, this, &SessionController::OnWatchdog);
    retry_.setSingleShot(true);
    connect(&retry_, &QTimer::timeout, this, &SessionController::OnRetry);
    health_.setInterval(kHealthPeriod);
    connect(&health_, &QTimer::timeout, this, &SessionController::UpdateHealth);
}

int SessionController::ReconnectDelayUnits(int attempt) {
    constexpr int kCap = 15;
    return attempt >= 4 ? kCap : 1 << attempt;
}

SessionController::~SessionController() {
    Close();
}

void SessionController::Create() {
    // The log first, so that whatever follows can write to it.
    if (logFolder.empty()) {
        ActivityLog::Instance().Open();
    } else {
        ActivityLog::Instance().Open(logFolder);
    }
    responseReady_.store(1);
    engine_.Init(this);
    abort_.store(1);
    settings_ = store_.Load();
    autoReconnect_.store(settings_.autoReconnect == 1);
    activeMethod_.store(settings_.LinkMethod());
    emit paneText(3, QString::fromStdString(LinkText()));
    emit stateChanged();
    health_.start();
    UpdateHealth();
}

void SessionController::StartWorkers(std::function<bool(const std::string& path)> draw) {
    if (loop_ || closing_) {
        return;
    }
    // The loop first: the writer tells it of every command it sends.
    loop_ = std::make_unique<ScreenLoop>(engine_, *this, traits_.softKey);
    loop_->draw = std::move(draw);
    loop_->sink = frameSink_;
    loop_->SetRate(LiveRateOf(settings_.liveRate));
    // Without a worker the window goes on without a screen loop.
    if (!loop_->Start()) {
        loop_.reset();
    }
    writer_ = std::make_unique<CommandWriter>(
        [this](const std::string& line) { return SendLine(line); }, [this] { SendFailed(); },
        traits_.softKey ? 0ms : kHardKeyPause);
    writer_->Start();
}

std::string SessionController::LinkText() const {
    switch (settings_.LinkMethod()) {
        case kMethodTcp:
            return "TCP/IP : " + settings_.ip;
        case kMethodTcp6:
            return "IPv6 : " + settings_.ipv6;
        default:
            return "USB";
    }
}

void SessionController::SetLink(int method, const std::string& ip, const std::string& ipv6) {
    settings_.method = method;
    settings_.ipv6 = ipv6;
    if (method == kMethodTcp) {
        settings_.ip = ip;
    }
    store_.StoreCommunication(method, ip, ipv6);
    // Also on first use, when the settings were only now created: the pane names the link
    // the next Connect will use.
    emit paneText(3, QString::fromStdString(LinkText()));
}

void SessionController::SetIpv4(const std::string& ip, const std::string& panePrefix) {
    settings_.ip = ip;
    store_.StoreText(kSetIp, ip);
    emit paneText(3, QString::fromStdString(panePrefix + ip));
}

void SessionController::SetQuality(int index) {
    settings_.quality = index;
    store_.StoreInt(kSetQuality, index);
}

void SessionController::SetAutoReconnect(bool on) {
    autoReconnect_.store(on);
    settings_.autoReconnect = on ? 1 : 0;
    store_.StoreInt(kSetAutoReconnect, settings_.autoReconnect);
    // Turned off while healing: the loss is reported as without it.
    if (!on && linkState_ == LinkState::Reconnecting) {
        retry_.stop();
        AbandonJob();
        SetLinkState(LinkState::Disconnected);
        emit message(QString::fromLatin1(kTextDisconnected));
    }
}

void SessionController::SetLiveRate(int rate) {
    settings_.liveRate = static_cast<int>(LiveRateOf(rate));
    store_.StoreInt(kSetLiveRate, settings_.liveRate);
    if (loop_) {
        loop_->SetRate(LiveRateOf(settings_.liveRate));
    }
}

void SessionController::SetLinkState(LinkState state) {
    linkState_ = state;
    linkUp_.store(state == LinkState::Connected);
    emit stateChanged();
}

bool SessionController::LinkUp() const {
    return linkUp_.load() && !closing_.load() && engine_.IsConnected() != 0;
}

void SessionController::OnResponseReady(int flag) {
    {
        std::lock_guard hold(waitLock_);
        responseReady_.store(flag);
    }
    waitChanged_.notify_all();
}

bool SessionController::WaitUnlessClosing(std::chrono::milliseconds timeout,
                                          const std::function<bool()>& pred) {
    std::unique_lock hold(waitLock_);
    const auto stop = [this] { return closing_.load() || cancel_.load(); };
    waitChanged_.wait_for(hold, timeout, [&] { return stop() || pred(); });
    return !stop() && pred();
}

bool SessionController::Connect() {
    if (closing_ || jobRunning_ ||
        (linkState_ != LinkState::Disconnected && linkState_ != LinkState::Connected)) {
        return false;
    }
    stateBeforeConnect_ = linkState_;
    SetLinkState(LinkState::Connecting);
    StartJob(false);
    return true;
}

void SessionController::StartJob(bool quiet) {
    JoinConnectJob();
    cancel_.store(false);
    jobRunning_ = true;
    const int id = ++jobId_;
    const Settings link = settings_;
    const auto job = [this, link, quiet, id] {
        Lines log;
        const ConnectResult result = RunConnect(link, log);
        QMetaObject::invokeMethod(
            this,
            [this, result, log, quiet, id] {
                // The result of a job abandoned before a newer one started is not wanted.
                if (id == jobId_) {
                    FinishConnect(result, log, quiet);
                }
            },
            Qt::QueuedConnection);
    };
    try {
        connectJob_ = std::thread(job);
    } catch (const std::system_error&) {
        job();
    }
}

void SessionController::AbandonJob() {
    if (!jobRunning_) {
        return;
    }
    {
        std::lock_guard hold(waitLock_);
        cancel_.store(true);
    }
    waitChanged_.notify_all();
    abort_.store(1);
    // Its connect or read ends at once; what it found is not wanted.
    engine_.Close();
    jobRunning_ = false;
}

void SessionController::CancelConnect() {
    if (linkState_ == LinkState::Connecting) {
        AbandonJob();
        SetLinkState(LinkState::Disconnected);
    } else if (linkState_ == LinkState::Reconnecting) {
        retry_.stop();
        AbandonJob();
        SetLinkState(LinkState::Disconnected);
    }
}

void SessionController::WaitConnect() {
    JoinConnectJob();
}

void SessionController::JoinConnectJob() {
    if (connectJob_.joinable()) {
        connectJob_.join();
    }
}

SessionController::ConnectResult SessionController::RunConnect(const Settings& link, Lines& log) {
    activeMethod_.store(link.LinkMethod());
    switch (link.LinkMethod()) {
        case kMethodTcp:
            return ConnectTcp(link, false, log);
        case kMethodTcp6:
            return ConnectTcp(link, true, log);
        default:
            return ConnectUsb(log);
    }
}

SessionController::ConnectResult SessionController::ConnectTcp(const Settings& link, bool ipv6,
                                                               Lines& log) {
    using Outcome = ConnectResult::Outcome;
    const std::string prefix = ipv6 ? "TCP(IPv6)" : "TCP";
    engine_.SetAddress(ipv6 ? link.ipv6 : link.ip);
    engine_.SetMethod(ipv6 ? kMethodTcp6 : kMethodTcp);
    if ((ipv6 ? engine_.ConnectTcp6() : engine_.ConnectTcp()) != 1) {
        // Both panels react alike, IPv6 included.
        log.push_back(prefix + " Connection Failed");
        engine_.Disconnect();
        return {Outcome::Failed, kReasonTcpOpen};
    }
    int p = 0;
    {
        // A screen exchange still ending after a lost link finishes first.
        std::lock_guard exchange(exchangeLock_);
        responseReady_.store(0);
        abort_.store(cancel_.load() ? 1 : 0);
        engine_.RequestEquipment(false);
        log.push_back(prefix + " Request Ret : " + std::to_string(engine_.LastSendResult()) + " ");
        // Ends within the answer deadline, or at once when the session closes or cancels.
        p = engine_.ReceiveAnswer(&abort_);
        responseReady_.store(1);
    }
    if (p < 100) {
        log.push_back(prefix + " EqupInfo Failed : " + engine_.ErrorText());
        engine_.Disconnect();
        return {Outcome::Failed, kReasonEqInfo};
    }
    RememberModel();
    log.push_back(prefix + " Connected, Load Equp");
    return {Outcome::Connected, 0};
}

SessionController::ConnectResult SessionController::ConnectUsb(Lines& log) {
    using Outcome = ConnectResult::Outcome;
    engine_.SetMethod(kMethodUsb);
    OnResponseReady(0);
    if (engine_.OpenUsb(this) != 1) {
        // Nothing is outstanding on a link that never opened.
        engine_.CloseUsb();
        OnResponseReady(1);
        log.push_back("Error! Do not connect");
        log.push_back("see: qvctl usb");
        return {Outcome::FailedAsWas, kReasonUsb};
    }
    engine_.RequestEquipment(true);
    // The reader thread completes the answer and raises the flag through OnResponseReady.
    if (!WaitUnlessClosing(usbWaitStep * (traits_.usbWaitChecks - 1),
                           [this] { return responseReady_.load() == 1; })) {
        log.push_back("Connect USB Timeout.");
        return {Outcome::TimeoutAsWas, 0};
    }
    if (engine_.GetDataLength() > 0) {
        engine_.SetConnected(1);
        log.push_back("USB Connected");
        RememberModel();
        return {Outcome::Connected, 0};
    }
    // The reader cannot be killed; closing the device ends it the same way.
    engine_.CloseUsb();
    engine_.SetConnected(0);
    log.push_back("Connection Failed");
    return {Outcome::Failed, kReasonUsb};
}

void SessionController::FinishConnect(const ConnectResult& result, const Lines& log, bool quiet) {
    using Outcome = ConnectResult::Outcome;
    JoinConnectJob();
    jobRunning_ = false;
    // Closed, cancelled or disconnected meanwhile: the state is already what the user asked.
    if (closing_ || cancel_.load()) {
        return;
    }
    if (quiet) {
        FinishReconnect(result, log);
        return;
    }
    for (const std::string& line : log) {
        Log(line);
    }
    switch (result.outcome) {
        case Outcome::Connected:
            watchdog_.start();
            SetLinkState(LinkState::Connected);
            emit message(QString::fromLatin1(kTextConnected));
            break;
        case Outcome::Failed:
            SetLinkState(LinkState::Disconnected);
            emit failure(result.reason);
            break;
        case Outcome::FailedAsWas:
            SetLinkState(stateBeforeConnect_);
            emit failure(result.reason);
            break;
        case Outcome::TimeoutAsWas:
            SetLinkState(stateBeforeConnect_);
            emit message(QString::fromLatin1(kTextTimeout));
            break;
    }
}

void SessionController::FinishReconnect(const ConnectResult& result, const Lines& log) {
    if (linkState_ != LinkState::Reconnecting) {
        return;
    }
    std::array<char, 96> line{};
    if (result.outcome == ConnectResult::Outcome::Connected) {
        const double down =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - downSince_).count();
        std::snprintf(line.data(), line.size(), "Reconnected after %.1f s (attempt %d)", down,
                      attempt_);
        Log(line.data());
        watchdog_.start();
        // Remote control resumes by itself: the streaming flag was never cleared.
        SetLinkState(LinkState::Connected);
        return;
    }
    // One line an attempt, whatever it met.
    std::snprintf(line.data(), line.size(), "Reconnect attempt %d failed: ", attempt_);
    Log(line.data() + (log.empty() ? std::string("no answer") : log.back()));
    ScheduleRetry();
}

void SessionController::BeginReconnect() {
    attempt_ = 0;
    downSince_ = std::chrono::steady_clock::now();
    SetLinkState(LinkState::Reconnecting);
    ScheduleRetry();
}

void SessionController::ScheduleRetry() {
    // Every failure waits its turn, so a peer that hangs up at once cannot make this spin.
    retry_.start(reconnectUnit * ReconnectDelayUnits(attempt_));
    emit stateChanged();
}

void SessionController::OnRetry() {
    if (closing_ || linkState_ != LinkState::Reconnecting || jobRunning_) {
        return;
    }
    ++attempt_;
    StartJob(true);
    emit stateChanged();
}

int SessionController::LookupModel() const {
    const auto* data = reinterpret_cast<const char*>(engine_.GetData());
    return ModelKindOf(data != nullptr ? std::string_view(data) : std::string_view());
}

void SessionController::RememberModel() {
    const auto* data = reinterpret_cast<const char*>(engine_.GetData());
    const int length = engine_.GetDataLength();
    std::string name;
    if (data != nullptr && length > 0) {
        name.assign(data, strnlen(data, static_cast<std::size_t>(length)));
    }
    {
        std::lock_guard lock(pathLock_);
        modelName_ = std::move(name);
    }
    if (traits_.softKey) {
        modelKind_.store(LookupModel());
    }
}

std::string SessionController::ModelName() const {
    std::lock_guard lock(pathLock_);
    return modelName_;
}

void SessionController::Disconnect() {
    if (linkState_ == LinkState::Connecting) {
        return;
    }
    // The user's Disconnect ends healing at once.
    retry_.stop();
    AbandonJob();
    watchdog_.stop();
    abort_.store(1);
    engine_.Disconnect();
    Log("Disconnect");
    SetLinkState(LinkState::Disconnected);
    emit message(QString::fromLatin1(kTextDisconnected));
}

void SessionController::OnWatchdog() {
    // Healing also notices a peer that hung up between exchanges.
    if (autoReconnect_.load() && engine_.IsConnected() != 0 && engine_.PeerGone()) {
        engine_.SetConnected(0);
    }
    if (engine_.IsConnected() != 0) {
        return;
    }
    watchdog_.stop();
    abort_.store(1);
    engine_.Disconnect();
    if (autoReconnect_.load()) {
        BeginReconnect();
        return;
    }
    SetLinkState(LinkState::Disconnected);
    emit message(QString::fromLatin1(kTextDisconnected));
}

void SessionController::Start() {
    streaming_.store(1);
    {
        std::lock_guard lock(pathLock_);
        framePath_ = MakeFramePath();
    }
    emit stateChanged();
    if (traits_.softKey) {
        if (settings_.quality == 1) {
            SendKey("KEYP:QUAL:NORM");
        } else if (settings_.quality == 2) {
            SendKey("KEYP:QUAL:LOW");
        }
    }
}

void SessionController::Stop() {
    streaming_.store(0);
    // The user's Stop ends healing at once.
    if (linkState_ == LinkState::Reconnecting) {
        retry_.stop();
        AbandonJob();
        SetLinkState(LinkState::Disconnected);
        return;
    }
    emit stateChanged();
}

void SessionController::UpdateHealth() {
    QString text = QStringLiteral("\u2014");
    if (loop_ && streaming_.load() == 1 && linkState_ == LinkState::Connected) {
        const ScreenLoop::Health h = loop_->HealthOver(kHealthWindow);
        const QString median =
            h.medianMs < 0 ? QStringLiteral("\u2014") : QStringLiteral("%1 ms").arg(h.medianMs);
        const QString age = h.lastAgeS < 0 ? QStringLiteral("\u2014")
                                           : QStringLiteral("%1 s").arg(h.lastAgeS, 0, 'f', 1);
        text = QStringLiteral("%1 fps \u00b7 %2 \u00b7 %3").arg(h.fps, 0, 'f', 1).arg(median, age);
    }
    if (text != healthText_) {
        healthText_ = text;
        emit paneText(0, text);
    }
}

void SessionController::SendKey(std::string text) {
    // While the link heals, keys send nothing and nothing waits for later.
    if (closing_ || linkState_ == LinkState::Reconnecting) {
        return;
    }
    if (traits_.softKey) {
        text += '\n';
        Log(text);
    } else {
        if (text == "KEYP:RIGH") {
            text = "KEYP:RIGHT";
        }
        Log(text);
        text += '\n';
    }
    // The writer pauses (hard-key panel) and sends; a line it cannot take is lost as a
    // failed send would be.
    if (!writer_ || !writer_->Push(std::move(text))) {
        Log("Send REQ_CMD Error");
    }
}

bool SessionController::SendLine(const std::string& line) {
    const bool sent = engine_.SendCommand(line) == 1;
    // The loop was made before the writer and outlives it.
    if (sent && loop_) {
        loop_->CommandWritten();
    }
    return sent;
}

void SessionController::SendFailed() {
    Log("Send REQ_CMD Error");
    // The hard-key panel gives the link up; the watchdog then ends the session.
    if (!traits_.softKey) {
        engine_.Disconnect();
    }
}

void SessionController::SetCommandPause(std::chrono::milliseconds pause) {
    if (writer_) {
        writer_->SetPause(pause);
    }
}

int SessionController::EarlyExchanges() const {
    return loop_ ? loop_->EarlyExchanges() : 0;
}

bool SessionController::WaitCommandsSent(std::chrono::milliseconds timeout) {
    return !writer_ || writer_->WaitIdle(timeout);
}

std::optional<std::string> SessionController::Touch(int x, int y, const ScreenRect& screen,
                                                    int scaleSetting) const {
    if (!engine_.IsConnected() || streaming_.load() != 1 || !screen.Contains(x, y)) {
        return std::nullopt;
    }
    if (traits_.softKey) {
        if (modelKind_.load() != kModelKindTouch) {
            return std::nullopt;
        }
        return SoftKeyTouch(x, y, screen, scaleSetting);
    }
    return HardKeyTouch(x, y, screen);
}

std::string SessionController::FramePath() const {
    std::lock_guard lock(pathLock_);
    return framePath_;
}

std::string SessionController::MakeFramePath() {
    return NewFrameFile(QDir::tempPath().toStdString());
}

void SessionController::Close() {
    if (closed_) {
        return;
    }
    closed_ = true;
    // No new work: Connect, SendKey and the screen loop's gate all read this.
    {
        std::lock_guard hold(waitLock_);
        closing_.store(true);
    }
    waitChanged_.notify_all();
    watchdog_.stop();
    retry_.stop();
    health_.stop();
    abort_.store(1);
    if (writer_) {
        writer_->Stop();
    }
    if (loop_) {
        loop_->RequestExit();
        // A healthy exchange ends at once: the worker ends before the link closes.
        loop_->WaitEnded(kCloseGrace);
    }
    // Closing the link ends any read still blocked, whatever the peer does, and stops the
    // USB reader; after it nothing of the engine calls back here.
    engine_.Close();
    engine_.SetResponseCallback({});
    JoinConnectJob();
    if (loop_) {
        loop_->Join();
    }
    streaming_.store(0);
    ActivityLog::Instance().Close();
}

}  // namespace qv
