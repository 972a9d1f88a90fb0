#include "session/SessionController.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "link/CommandSet.h"
#include "session/ActivityLog.h"
#include "session/CommandWriter.h"
#include "session/Commands.h"
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
    engine_.Init();
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
    loop_ = std::make_unique<ScreenLoop>(engine_, *this, frames_, traits_.softKey);
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
    store_.StoreIpv4(ip);
    emit paneText(3, QString::fromStdString(panePrefix + ip));
}

void SessionController::SetQuality(int index) {
    settings_.quality = index;
    store_.StoreQuality(index);
}

void SessionController::SetAutoReconnect(bool on) {
    autoReconnect_.store(on);
    settings_.autoReconnect = on ? 1 : 0;
    store_.StoreAutoReconnect(on);
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
    store_.StoreLiveRate(settings_.liveRate);
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
    JoinJobs(false);
    cancel_.store(false);
    jobRunning_ = true;
    const int id = ++jobId_;
    const Settings link = settings_;
    // Taken here: a Disconnect, Cancel or Close from now on drops whatever this job opens.
    const Link::Ticket ticket = engine_.link().Take();
    auto ended = std::make_shared<std::atomic<bool>>(false);
    const auto post = [this, quiet, id](const ConnectResult& result, const Lines& log) {
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
        std::thread thread([this, link, ticket, ended, post] {
            Lines log;
            const ConnectResult result = RunConnect(link, ticket, log);
            post(result, log);
            ended->store(true);
        });
        jobs_.push_back(Job{std::move(thread), std::move(ended)});
    } catch (const std::system_error&) {
        // The window's thread never runs a connect: without a job the attempt fails.
        const bool usb = link.LinkMethod() == kMethodUsb;
        const std::string prefix = link.LinkMethod() == kMethodTcp6 ? "TCP(IPv6)" : "TCP";
        post({usb ? ConnectResult::Outcome::FailedAsWas : ConnectResult::Outcome::Failed,
              usb ? kReasonUsb : kReasonTcpOpen},
             Lines{usb ? std::string("Error! Do not connect") : prefix + " Connection Failed"});
    }
}

void SessionController::AbandonJob() {
    if (!jobRunning_) {
        return;
    }
    cancel_.store(true);
    abort_.store(1);
    // Its connect or exchange ends at once and nothing it opens is kept; what it found is not
    // wanted. A name look-up it waits for is left to finish by itself.
    engine_.link().Drop();
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
    JoinJobs(true);
}

void SessionController::JoinJobs(bool all) {
    std::erase_if(jobs_, [all](Job& job) {
        if (!all && !job.ended->load()) {
            return false;
        }
        job.thread.join();
        return true;
    });
}

SessionController::ConnectResult SessionController::RunConnect(const Settings& link,
                                                               Link::Ticket ticket, Lines& log) {
    activeMethod_.store(link.LinkMethod());
    switch (link.LinkMethod()) {
        case kMethodTcp:
            return ConnectTcp(link, false, ticket, log);
        case kMethodTcp6:
            return ConnectTcp(link, true, ticket, log);
        default:
            return ConnectUsb(ticket, log);
    }
}

SessionController::ConnectResult SessionController::ConnectTcp(const Settings& link, bool ipv6,
                                                               Link::Ticket ticket, Lines& log) {
    using Outcome = ConnectResult::Outcome;
    const std::string prefix = ipv6 ? "TCP(IPv6)" : "TCP";
    engine_.SetMethod(ipv6 ? kMethodTcp6 : kMethodTcp);
    if (engine_.Connect(ipv6 ? kMethodTcp6 : kMethodTcp, ipv6 ? link.ipv6 : link.ip, ticket) != 1) {
        // Both panels react alike, IPv6 included.
        log.push_back(prefix + " Connection Failed");
        engine_.link().DropIf(ticket);
        return {Outcome::Failed, kReasonTcpOpen};
    }
    Answer answer;
    // Ends within the answer deadline, or at once when the session closes or cancels (the
    // link is dropped under it).
    const int p =
        engine_.link().Exchange(RequestFrame(REQ_EQINFO), answer, engine_.AnswerDeadline());
    log.push_back(prefix + " Request Ret : " + std::to_string(engine_.LastSendResult()) + " ");
    if (p < 100) {
        log.push_back(prefix + " EqupInfo Failed : " + answer.error);
        engine_.link().DropIf(ticket);
        return {Outcome::Failed, kReasonEqInfo};
    }
    RememberModel(answer);
    log.push_back(prefix + " Connected, Load Equp");
    return {Outcome::Connected, 0};
}

SessionController::ConnectResult SessionController::ConnectUsb(Link::Ticket ticket, Lines& log) {
    using Outcome = ConnectResult::Outcome;
    engine_.SetMethod(kMethodUsb);
    if (engine_.OpenUsb(ticket) != 1) {
        log.push_back("Error! Do not connect");
        log.push_back("see: qvctl usb");
        return {Outcome::FailedAsWas, kReasonUsb};
    }
    // The panel's checks, 100 ms apart, are the answer's deadline; a broken answer ends the
    // wait at once.
    Answer answer;
    const int p = engine_.link().Exchange(RequestFrame(REQ_EQINFO), answer,
                                          usbWaitStep * (traits_.usbWaitChecks - 1));
    if (p < 100) {
        log.push_back("Connect USB Timeout.");
        if (answer.error != "STR_ERROR_TIMEOUT") {
            log.push_back("USB EqupInfo Failed : " + answer.error);
        }
        // Nothing keeps the device claimed after a failed connect.
        engine_.link().DropIf(ticket);
        return {Outcome::TimeoutAsWas, 0};
    }
    if (answer.length() > 0) {
        log.push_back("USB Connected");
        RememberModel(answer);
        return {Outcome::Connected, 0};
    }
    engine_.link().DropIf(ticket);
    log.push_back("Connection Failed");
    return {Outcome::Failed, kReasonUsb};
}

void SessionController::FinishConnect(const ConnectResult& result, const Lines& log, bool quiet) {
    using Outcome = ConnectResult::Outcome;
    JoinJobs(false);
    jobRunning_ = false;
    // Closed, cancelled or disconnected meanwhile: the state is already what the user asked.
    if (closing_ || cancel_.load()) {
        return;
    }
    if (result.outcome == Outcome::Connected) {
        engine_.SetConnected(1);
        abort_.store(0);
    } else {
        engine_.SetConnected(0);
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

void SessionController::RememberModel(const Answer& answer) {
    const auto* data = reinterpret_cast<const char*>(answer.data());
    std::string name(data, strnlen(data, answer.length()));
    if (traits_.softKey) {
        modelKind_.store(ModelKindOf(data));
    }
    std::lock_guard lock(modelLock_);
    modelName_ = std::move(name);
}

std::string SessionController::ModelName() const {
    std::lock_guard lock(modelLock_);
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
    frames_.Begin();
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
    const bool live = loop_ && streaming_.load() == 1 && linkState_ == LinkState::Connected;
    const QString text = QString::fromStdString(live ? loop_->HealthText(kHealthWindow)
                                                     : std::string(ScreenLoop::kNoHealth));
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

void SessionController::Close() {
    if (closed_) {
        return;
    }
    closed_ = true;
    // No new work: Connect, SendKey and the screen loop's gate all read this.
    closing_.store(true);
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
    // Closing the link ends any read or connect still blocked, whatever the peer does, and
    // nothing is opened on it after this: every job ends at once.
    engine_.Close();
    JoinJobs(true);
    if (loop_) {
        loop_->Join();
    }
    streaming_.store(0);
    ActivityLog::Instance().Close();
}

}  // namespace qv
