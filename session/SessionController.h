// One panel window's session: connects its engine by the chosen link method, watches the
// link, disconnects, and switches remote control on and off. Runs headless against a
// SessionView; the connect sequence runs on a thread of its own so the window keeps painting.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/CDevComm.h"
#include "link/ModelTable.h"
#include "session/SessionView.h"
#include "session/SettingsStore.h"

namespace qv {

// Where the two panels differ.
struct PanelTraits {
    bool softKey = false;
    int usbWaitChecks = 101;       // response-ready checks, 100 ms apart, after a USB request
    std::vector<int> keyControls;  // enabled by Start, disabled by Stop

    static PanelTraits HardKey();
    static PanelTraits SoftKey();
};

// Connection pane texts and status.
inline constexpr const char* kTextConnected = "Connected";
inline constexpr const char* kTextDisconnected = "Disconnected";
inline constexpr const char* kTextTimeout = "Timeout";
inline constexpr const char* kTextConnecting = "Connecting\u2026";
inline constexpr const char* kTextStarted = "Remote Control Started";
inline constexpr const char* kTextStopped = "Remote Control Stopped";

// Failure message reasons.
inline constexpr int kReasonTcpOpen = 1;
inline constexpr int kReasonUsb = 2;
inline constexpr int kReasonEqInfo = 3;

class SessionController {
  public:
    using Sleeper = std::function<void(std::chrono::milliseconds)>;

    // owner is handed to the engine (Init, OpenUsb); it forwards OnResponseReady here.
    SessionController(CDevComm& engine, SettingsStore& settings, SessionView& view,
                      PanelTraits traits, DevOwner* owner);
    ~SessionController();
    SessionController(const SessionController&) = delete;
    SessionController& operator=(const SessionController&) = delete;

    // The session's share of window creation: flags, engine owner, settings, log, panes.
    void Create();

    // Starts the connect sequence on its own thread. False when one is already running.
    bool Connect();
    // Waits for a running connect sequence to end.
    void WaitConnect();
    bool Connecting() const { return connecting_.load(); }
    // The connect sequence itself, on the calling thread.
    void ConnectNow();

    void Disconnect();
    void Start();
    void Stop();
    void OnTimer(int id);
    void OnResponseReady(int flag) { responseReady_.store(flag); }

    // Window close. stopWorker ends the screen loop (sets its exit flag and waits for it).
    void Close(const std::function<void()>& stopWorker);

    // The communication dialog's OK: takes the method and the IPv6 text, and the IPv4 text for
    // method 1; stores them (creating the settings on first use) and rewrites pane 3. The
    // next Connect uses them; an open link is not touched.
    void SetLink(int method, const std::string& ip, const std::string& ipv6);
    // The IP address dialog's OK: the new IPv4 address, stored where settings exist; pane 3
    // shows panePrefix and the address.
    void SetIpv4(const std::string& ip, const std::string& panePrefix);
    // A quality chosen in the menu: kept for Start even where it cannot be stored.
    void SetQuality(int index);
    std::string LinkText() const;

    std::atomic<int>& responseReady() { return responseReady_; }
    std::atomic<int>& streaming() { return streaming_; }
    std::atomic<int>& abort() { return abort_; }
    int method() const { return settings_.method; }
    int LinkMethod() const { return settings_.LinkMethod(); }
    // Method of the link made by the last connect; the screen loop and key sends use it.
    int ActiveMethod() const { return activeMethod_.load(); }
    const Settings& settings() const { return settings_; }
    std::string FramePath() const;
    int ModelKind() const { return modelKind_.load(); }
    bool IsConnectedState() const { return connectedState_.load(); }

    // Start's quality command on the soft-key panel goes out through this.
    std::function<void(const std::string&)> sendKey;
    // Folder of the activity log; empty for the usual place.
    std::string logFolder;
    // Replaces the 100 ms sleeps of the USB wait (tests).
    Sleeper sleep = [](std::chrono::milliseconds d) { std::this_thread::sleep_for(d); };

    // Makes a frame file path: temporary folder, local time with milliseconds, ".jpg".
    static std::string MakeFramePath();

  private:
    void RunConnect(const Settings& link);
    void ConnectTcp(const Settings& link, bool ipv6);
    void ConnectUsb();
    void SetConnectedState();
    void SetDisconnectedState();
    // Puts buttons and pane 1 back as they were before a connect that changed nothing.
    void RestoreState();
    void CloseUsbLink();
    void StartWatchdog();
    // The TCP equipment exchange must not overlap a screen exchange: take the token.
    void TakeResponseToken();
    void LookupModel();

    CDevComm& engine_;
    SettingsStore& store_;
    SessionView& view_;
    PanelTraits traits_;
    DevOwner* owner_;
    Settings settings_;

    std::atomic<int> responseReady_{1};
    std::atomic<int> streaming_{0};
    std::atomic<int> abort_{1};
    std::atomic<int> modelKind_{kModelKindInitial};  // until the instrument names itself
    std::atomic<int> activeMethod_{kMethodUsb};
    std::atomic<bool> connectedState_{false};
    std::atomic<bool> connecting_{false};
    std::thread connectThread_;
    mutable std::mutex pathLock_;
    std::string framePath_;
};

}  // namespace qv
