// One panel window's session: connects its engine by the chosen link method, watches the
// link, disconnects, switches remote control on and off, and owns the threads that talk to
// the instrument: the connect job, the screen loop and the command writer.
//
// It lives on the window's thread and never waits on I/O there: the connect runs as a job
// whose result comes back as a queued call, commands go through the writer, screens through
// the screen loop. It announces what the window shows through its signals; the window never
// holds a worker, and no worker ever waits for the window.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "link/CDevComm.h"
#include "link/ModelTable.h"
#include "session/FrameFile.h"
#include "session/ScreenRect.h"
#include "session/SettingsStore.h"

namespace qv {

class CommandWriter;
class ScreenLoop;

// Where the two panels differ.
struct PanelTraits {
    bool softKey = false;
    int usbWaitChecks = 101;  // the USB equipment answer's deadline, in checks 100 ms apart

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

// Reconnecting: the link was lost and the session is healing it by itself (back-off between
// quiet attempts) until it is up again or the user disconnects, stops or closes.
enum class LinkState { Disconnected, Connecting, Connected, Reconnecting };

class SessionController : public QObject {
    Q_OBJECT
  public:
    SessionController(CDevComm& engine, SettingsStore& store, PanelTraits traits,
                      QObject* parent = nullptr);
    ~SessionController() override;
    SessionController(const SessionController&) = delete;
    SessionController& operator=(const SessionController&) = delete;

    static constexpr std::chrono::milliseconds kWatchdogPeriod{100};
    static constexpr std::chrono::milliseconds kHardKeyPause{100};
    // How long Close lets a healthy screen exchange finish before it closes the link.
    static constexpr std::chrono::milliseconds kCloseGrace{300};
    static constexpr std::chrono::milliseconds kHealthPeriod{500};
    static constexpr std::chrono::milliseconds kHealthWindow{5000};
    // The wait before reconnect attempt n (0 first), in units of the back-off's second:
    // 1, 2, 4, 8, then 15 for every later one.
    static int ReconnectDelayUnits(int attempt);

    // The session's share of window creation: log, flags, engine owner, settings.
    void Create();
    // Starts the screen loop (drawing each frame file with draw, on its thread) and the
    // command writer. draw may be empty (nothing is drawn).
    void StartWorkers(std::function<bool(const std::string& path)> draw);
    // Each whole screen as received, on the screen loop's thread before it is drawn. The
    // bytes are valid during the call only; the sink must copy and return, never wait.
    // Set before StartWorkers.
    using FrameSink = std::function<void(std::span<const std::uint8_t> jpeg)>;
    void SetFrameSink(FrameSink sink) { frameSink_ = std::move(sink); }

    // Starts the connect job by the current method. False while one runs or after Close.
    bool Connect();
    // Ends a connect the user started, or the healing of a lost link: the attempt ends at
    // once, the state is Disconnected, nothing is logged as a failure.
    void CancelConnect();
    // Whether a lost link heals itself (setting "AutoReconnect"); stored where settings exist.
    void SetAutoReconnect(bool on);
    bool AutoReconnect() const { return autoReconnect_.load(); }
    // The reconnect attempt under way or next (1 first), while Reconnecting.
    int ReconnectAttempt() const { return attempt_ + (jobRunning_ ? 0 : 1); }
    void Disconnect();
    void Start();
    void Stop();
    // Window close: stops accepting work, aborts, closes the link (which ends any blocked
    // read), joins every thread. Bounded; safe to call twice.
    void Close();

    // The one send path for command texts (keys, knob, PC keys, quality, touches).
    void SendKey(std::string text);
    // The touch command for a click at (x, y) in the client area, when it must send one.
    // scaleSetting: the soft-key panel's display scale.
    std::optional<std::string> Touch(int x, int y, const ScreenRect& screen,
                                     int scaleSetting) const;

    // The communication dialog's OK: takes the method and the IPv6 text, and the IPv4 text for
    // method 1; stores them (creating the settings on first use) and rewrites pane 3. The
    // next Connect uses them; an open link is not touched.
    void SetLink(int method, const std::string& ip, const std::string& ipv6);
    // The IP address dialog's OK: the new IPv4 address, stored where settings exist; pane 3
    // shows panePrefix and the address.
    void SetIpv4(const std::string& ip, const std::string& panePrefix);
    // A quality chosen in the menu: kept for Start even where it cannot be stored.
    void SetQuality(int index);
    // A live rate chosen in the menu (0 Normal, 1 Responsive, 2 Fast): the screen loop paces
    // by it at once; stored as "LiveRate" where settings exist.
    void SetLiveRate(int rate);
    int LiveRateSetting() const { return settings_.liveRate; }

    LinkState linkState() const { return linkState_; }
    bool IsConnectedState() const { return linkState_ == LinkState::Connected; }
    bool Connecting() const { return linkState_ == LinkState::Connecting; }
    bool Streaming() const { return streaming_.load() == 1; }
    bool WatchdogActive() const { return watchdog_.isActive(); }
    std::string LinkText() const;
    const Settings& settings() const { return settings_; }
    int ModelKind() const { return modelKind_.load(); }
    // The model name the instrument gave at the last successful connect; empty before.
    std::string ModelName() const;
    // Method of the link made by the last connect.
    int ActiveMethod() const { return activeMethod_.load(); }
    // This Start-to-Stop period's frame file; empty before the first Start.
    std::string FramePath() const { return frames_.Path(); }
    // Remote control on, and abandon the exchange under way.
    const std::atomic<int>& streaming() const { return streaming_; }
    const std::atomic<int>& abort() const { return abort_; }
    // An exchange is running on the link (tests).
    bool ExchangeUnderWay() const { return engine_.link().Busy(); }
    // The screen loop's gate: a link that is up and not being closed.
    bool LinkUp() const;
    // The screen loop's light check while idle runs only with self-healing on.
    bool IdleChecks() const { return autoReconnect_.load() && !streaming_.load(); }

    // Waits for the connect job to end; tests and benchmarks only.
    void WaitConnect();
    // Replaces the hard-key panel's pause between commands; tests and benchmarks only.
    void SetCommandPause(std::chrono::milliseconds pause);
    // Screen exchanges that came early after a command (Responsive); tests and benchmarks only.
    int EarlyExchanges() const;
    // Waits until the command writer has sent what it holds; tests and benchmarks only.
    bool WaitCommandsSent(std::chrono::milliseconds timeout);

    // Folder of the activity log; empty for the usual place.
    std::string logFolder;
    // While connected and not streaming, the link is checked this often (self-healing on).
    std::chrono::milliseconds idleCheckPeriod{5000};
    // The back-off's second; tests shorten it.
    std::chrono::milliseconds reconnectUnit{1000};
    // The step of the wait for a USB answer (the panel's checks are this far apart); tests
    // shorten it.
    std::chrono::milliseconds usbWaitStep{100};

  signals:
    // The link state or remote control changed: the window derives its buttons, menu and
    // panes 1 and 2 from linkState() and Streaming().
    void stateChanged();
    // Pane 3 (the link) or pane 0 has a new text.
    void paneText(int pane, const QString& text);
    // A plain box with an OK button ("Connected", "Disconnected", "Timeout").
    void message(const QString& text);
    // The connection-failed message with its reason number.
    void failure(int reason);

  private:
    struct ConnectResult;
    using Lines = std::vector<std::string>;
    // The connect job: starts it; quiet for a reconnect attempt (no boxes, one log line).
    void StartJob(bool quiet);
    ConnectResult RunConnect(const Settings& link, Link::Ticket ticket, Lines& log);
    ConnectResult ConnectTcp(const Settings& link, bool ipv6, Link::Ticket ticket, Lines& log);
    ConnectResult ConnectUsb(Link::Ticket ticket, Lines& log);
    void FinishConnect(const ConnectResult& result, const Lines& log, bool quiet);
    void FinishReconnect(const ConnectResult& result, const Lines& log);
    // Joins the jobs that have ended; with all, every job (the link is closed by then, so
    // none can block).
    void JoinJobs(bool all);
    // Ends a running job at once: its link is closed under it and its result is ignored.
    void AbandonJob();
    void OnWatchdog();
    void BeginReconnect();
    void ScheduleRetry();
    void OnRetry();
    void UpdateHealth();
    void SetLinkState(LinkState state);
    // Keeps the connected instrument's model name (and, soft-key panel, its kind).
    void RememberModel(const Answer& answer);
    bool SendLine(const std::string& line);
    void SendFailed();

    CDevComm& engine_;
    SettingsStore& store_;
    PanelTraits traits_;
    Settings settings_;
    LinkState linkState_ = LinkState::Disconnected;
    LinkState stateBeforeConnect_ = LinkState::Disconnected;
    QTimer watchdog_;
    QTimer retry_;
    QTimer health_;
    QString healthText_;
    int attempt_ = 0;          // reconnect attempts made since the link was lost
    bool jobRunning_ = false;  // a connect job started and not yet finished (window thread)
    int jobId_ = 0;            // the latest job; older results are ignored
    std::chrono::steady_clock::time_point downSince_{};

    std::atomic<int> streaming_{0};
    std::atomic<int> abort_{1};
    std::atomic<int> modelKind_{kModelKindInitial};  // until the instrument names itself
    std::atomic<int> activeMethod_{kMethodUsb};
    std::atomic<bool> linkUp_{false};
    std::atomic<bool> closing_{false};
    std::atomic<bool> cancel_{false};  // the running job's result is not wanted
    std::atomic<bool> autoReconnect_{true};
    bool closed_ = false;

    struct Job {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> ended;
    };
    std::vector<Job> jobs_;
    std::unique_ptr<ScreenLoop> loop_;
    FrameSink frameSink_;
    std::unique_ptr<CommandWriter> writer_;
    FrameFile frames_;
    mutable std::mutex modelLock_;
    std::string modelName_;  // under modelLock_
};

}  // namespace qv
