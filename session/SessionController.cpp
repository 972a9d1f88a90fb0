#include "session/SessionController.h"

#include <sys/time.h>

#include <QDir>
#include <array>
#include <cstdio>
#include <ctime>

#include "link/ModelTable.h"
#include "resources/ids.h"
#include "session/ActivityLog.h"

namespace qv {
namespace {

using namespace std::chrono_literals;

constexpr int kWatchdogPeriodMs = 100;
constexpr auto kTokenWait = 3000ms;  // longer than one failing screen exchange
constexpr auto kTokenStep = 10ms;
constexpr int kCloseTokenChecks = 50;  // 10 s

std::vector<int> Range(int first, int last) {
    std::vector<int> ids;
    for (int id = first; id <= last; ++id) {
        ids.push_back(id);
    }
    return ids;
}

void Log(const std::string& line) {
    ActivityLog::Instance().Write(line);
}

}  // namespace

PanelTraits PanelTraits::HardKey() {
    PanelTraits t;
    t.softKey = false;
    t.usbWaitChecks = 101;
    t.keyControls = Range(ids::kHardKeyFirst, ids::kHardKnob);
    return t;
}

PanelTraits PanelTraits::SoftKey() {
    PanelTraits t;
    t.softKey = true;
    t.usbWaitChecks = 31;
    t.keyControls = Range(ids::kSoftKeyFirst, ids::kSoftKeyLast);
    t.keyControls.push_back(ids::kSoftKnob);
    return t;
}

SessionController::SessionController(CDevComm& engine, SettingsStore& settings, SessionView& view,
                                     PanelTraits traits, DevOwner* owner)
    : engine_(engine), store_(settings), view_(view), traits_(std::move(traits)), owner_(owner) {}

SessionController::~SessionController() {
    WaitConnect();
}

void SessionController::Create() {
    // The log first, so that whatever follows can write to it.
    if (logFolder.empty()) {
        ActivityLog::Instance().Open();
    } else {
        ActivityLog::Instance().Open(logFolder);
    }
    responseReady_.store(1);
    engine_.Init(owner_);
    abort_.store(1);
    settings_ = store_.Load();
    activeMethod_.store(settings_.LinkMethod());
    view_.SetPaneText(0, " ");
    view_.SetPaneText(2, kTextStopped);
    SetDisconnectedState();
    view_.SetPaneText(3, LinkText());
}

void SessionController::ReloadSettings() {
    settings_ = store_.Load();
    view_.SetPaneText(3, LinkText());
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

bool SessionController::Connect() {
    if (connecting_.exchange(true)) {
        return false;
    }
    if (connectThread_.joinable()) {
        connectThread_.join();
    }
    // Until the sequence ends nothing may start a second one.
    view_.EnableControl(ids::kCmdConnect, false);
    view_.SetPaneText(1, kTextConnecting);
    const Settings link = settings_;
    try {
        connectThread_ = std::thread([this, link] { RunConnect(link); });
    } catch (const std::system_error&) {
        RunConnect(link);
    }
    return true;
}

void SessionController::WaitConnect() {
    if (connectThread_.joinable()) {
        connectThread_.join();
    }
}

void SessionController::ConnectNow() {
    if (connecting_.exchange(true)) {
        return;
    }
    view_.EnableControl(ids::kCmdConnect, false);
    view_.SetPaneText(1, kTextConnecting);
    RunConnect(settings_);
}

void SessionController::RunConnect(const Settings& link) {
    activeMethod_.store(link.LinkMethod());
    switch (link.LinkMethod()) {
        case kMethodTcp:
            ConnectTcp(link, false);
            break;
        case kMethodTcp6:
            ConnectTcp(link, true);
            break;
        default:
            ConnectUsb();
            break;
    }
    connecting_.store(false);
}

void SessionController::TakeResponseToken() {
    const auto until = std::chrono::steady_clock::now() + kTokenWait;
    int expected = 1;
    while (!responseReady_.compare_exchange_strong(expected, 0)) {
        if (std::chrono::steady_clock::now() >= until) {
            responseReady_.store(0);
            return;
        }
        expected = 1;
        std::this_thread::sleep_for(kTokenStep);
    }
}

void SessionController::ConnectTcp(const Settings& link, bool ipv6) {
    const std::string prefix = ipv6 ? "TCP(IPv6)" : "TCP";
    engine_.SetAddress(ipv6 ? link.ipv6 : link.ip);
    engine_.SetMethod(ipv6 ? kMethodTcp6 : kMethodTcp);
    if ((ipv6 ? engine_.ConnectTcp6() : engine_.ConnectTcp()) != 1) {
        // Both panels react alike, IPv6 included.
        Log(prefix + " Connection Failed");
        engine_.Disconnect();
        SetDisconnectedState();
        view_.FailureMessage(kReasonTcpOpen);
        return;
    }
    TakeResponseToken();
    abort_.store(0);
    engine_.SendRequest(kCmdRequest, REQ_EQINFO);
    Log(prefix + " Request Ret : " + std::to_string(engine_.LastSendResult()) + " ");
    int p = 0;
    do {
        p = engine_.Poll();
    } while (p != -1 && p < 100);
    responseReady_.store(1);
    if (p == -1) {
        Log(prefix + " EqupInfo Failed : " + engine_.ErrorText());
        engine_.Disconnect();
        SetDisconnectedState();
        view_.FailureMessage(kReasonEqInfo);
        return;
    }
    if (traits_.softKey) {
        LookupModel();
    }
    Log(prefix + " Connected, Load Equp");
    view_.MessageBox(kTextConnected);
    StartWatchdog();
    SetConnectedState();
}

void SessionController::ConnectUsb() {
    engine_.SetMethod(kMethodUsb);
    responseReady_.store(0);
    if (engine_.OpenUsb(owner_) != 1) {
        // Nothing is outstanding on a link that never opened.
        engine_.CloseUsb();
        responseReady_.store(1);
        Log("Error! Do not connect");
        Log("see: qvctl usb");
        view_.FailureMessage(kReasonUsb);
        RestoreState();
        return;
    }
    engine_.SetRequestKind(kKindEqInfo);
    engine_.UsbSendRequest(REQ_EQINFO, nullptr, 0, 1);
    // The reader thread completes the answer and raises the flag through the owner.
    for (int i = 1; i < traits_.usbWaitChecks && responseReady_.load() != 1; ++i) {
        sleep(100ms);
    }
    if (responseReady_.load() != 1) {
        Log("Connect USB Timeout.");
        view_.MessageBox(kTextTimeout);
        RestoreState();
        return;
    }
    if (engine_.GetDataLength() > 0) {
        engine_.SetConnected(1);
        Log("USB Connected");
        view_.MessageBox(kTextConnected);
        StartWatchdog();
        SetConnectedState();
        if (traits_.softKey) {
            LookupModel();
        }
        return;
    }
    // The reader cannot be killed; closing the device ends it the same way.
    engine_.CloseUsb();
    engine_.SetConnected(0);
    SetDisconnectedState();
    Log("Connection Failed");
    view_.FailureMessage(kReasonUsb);
}

void SessionController::CloseUsbLink() {
    engine_.CloseUsb();
}

void SessionController::LookupModel() {
    const auto* data = reinterpret_cast<const char*>(engine_.GetData());
    modelKind_.store(ModelKindOf(data != nullptr ? std::string_view(data) : std::string_view()));
}

void SessionController::StartWatchdog() {
    view_.StartTimer(ids::kTimerWatchdog, kWatchdogPeriodMs);
}

void SessionController::SetConnectedState() {
    connectedState_.store(true);
    view_.EnableControl(ids::kCmdConnect, false);
    view_.EnableControl(ids::kCmdDisconnect, true);
    view_.EnableControl(ids::kCmdStart, true);
    view_.EnableControl(ids::kCmdStop, false);
    view_.SetPaneText(1, kTextConnected);
    view_.SetLinkIcon(ids::kIconConnected);
}

void SessionController::SetDisconnectedState() {
    connectedState_.store(false);
    view_.EnableControl(ids::kCmdConnect, true);
    view_.EnableControl(ids::kCmdDisconnect, false);
    view_.EnableControl(ids::kCmdStart, false);
    view_.EnableControl(ids::kCmdStop, false);
    view_.SetPaneText(1, kTextDisconnected);
    view_.SetLinkIcon(ids::kIconDisconnected);
}

void SessionController::RestoreState() {
    if (connectedState_.load()) {
        SetConnectedState();
    } else {
        SetDisconnectedState();
    }
}

void SessionController::Disconnect() {
    view_.KillTimer(ids::kTimerWatchdog);
    abort_.store(1);
    engine_.Disconnect();
    Log("Disconnect");
    view_.MessageBox(kTextDisconnected);
    SetDisconnectedState();
    view_.Repaint();
}

void SessionController::OnTimer(int id) {
    if (id != ids::kTimerWatchdog || engine_.IsConnected() != 0) {
        return;
    }
    view_.KillTimer(ids::kTimerWatchdog);
    abort_.store(1);
    engine_.Disconnect();
    view_.MessageBox(kTextDisconnected);
    SetDisconnectedState();
}

void SessionController::Start() {
    streaming_.store(1);
    for (const int id : traits_.keyControls) {
        view_.EnableControl(id, true);
    }
    view_.EnableControl(ids::kCmdDisconnect, false);
    view_.EnableControl(ids::kCmdStart, false);
    view_.EnableControl(ids::kCmdStop, true);
    view_.SetPaneText(2, kTextStarted);
    {
        std::lock_guard lock(pathLock_);
        framePath_ = MakeFramePath();
    }
    if (traits_.softKey && sendKey) {
        if (settings_.quality == 1) {
            sendKey("KEYP:QUAL:NORM");
        } else if (settings_.quality == 2) {
            sendKey("KEYP:QUAL:LOW");
        }
    }
}

void SessionController::Stop() {
    streaming_.store(0);
    for (const int id : traits_.keyControls) {
        view_.EnableControl(id, false);
    }
    view_.EnableControl(ids::kCmdDisconnect, true);
    view_.EnableControl(ids::kCmdStart, true);
    view_.EnableControl(ids::kCmdStop, false);
    view_.SetPaneText(2, kTextStopped);
    view_.Repaint();
}

std::string SessionController::FramePath() const {
    std::lock_guard lock(pathLock_);
    return framePath_;
}

std::string SessionController::MakeFramePath() {
    timeval now{};
    ::gettimeofday(&now, nullptr);
    std::tm local{};
    const std::time_t seconds = now.tv_sec;
    ::localtime_r(&seconds, &local);
    std::array<char, 64> name{};
    std::snprintf(name.data(), name.size(), "%04d%02d%02d_%02d%02d%02d_%03d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(now.tv_usec / 1000));
    return QDir::tempPath().toStdString() + "/" + name.data() + ".jpg";
}

void SessionController::Close(const std::function<void()>& stopWorker) {
    WaitConnect();
    if (traits_.softKey) {
        if (engine_.IsConnected() && settings_.LinkMethod() == kMethodUsb) {
            // Every screen cycle returns the token; a dead link must not hold the close.
            for (int i = 0; i < kCloseTokenChecks && responseReady_.load() != 1; ++i) {
                sleep(200ms);
            }
            streaming_.store(0);
            abort_.store(1);
            engine_.Disconnect();
        }
        if (stopWorker) {
            stopWorker();
        }
        streaming_.store(0);
        sleep(200ms);
    } else {
        if (stopWorker) {
            stopWorker();
        }
        streaming_.store(0);
        sleep(200ms);
        if (engine_.IsConnected()) {
            abort_.store(1);
            engine_.Disconnect();
            CloseUsbLink();
        }
    }
    ActivityLog::Instance().Close();
}

}  // namespace qv
