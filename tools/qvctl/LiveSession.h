// A live session without a window, for the commands that stream an instrument's screen
// (record, serve): connects to a target, heals a lost link as the window does, streams at a
// live rate and hands each whole screen, with the moment it arrived, to a sink.
//
// It lives on the thread of the QCoreApplication the caller made and needs its event loop.
// Its settings live in a private temporary folder: the user's own store is never read or
// written. Its activity log goes there too, and is gone with it.
#pragma once

#include <QObject>
#include <QString>
#include <QTemporaryDir>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "link/CDevComm.h"
#include "session/LivePacing.h"
#include "session/SessionController.h"
#include "session/SettingsStore.h"
#include "tools/qvctl/Target.h"

namespace qvctl {

class LiveSession : public QObject {
    Q_OBJECT
  public:
    using Clock = std::chrono::steady_clock;
    // Each whole screen as received and when it came. Runs on the session's screen worker;
    // the bytes are valid during the call only. Copy and return: never wait here.
    using FrameSink = std::function<void(std::span<const std::uint8_t> jpeg, Clock::time_point at)>;

    struct Options {
        Target target;
        bool ipv6 = false;  // reach a host name over IPv6 (a literal says so itself)
        qv::LiveRate rate = qv::LiveRate::Normal;
    };

    explicit LiveSession(Options options, QObject* parent = nullptr);
    ~LiveSession() override;
    LiveSession(const LiveSession&) = delete;
    LiveSession& operator=(const LiveSession&) = delete;

    // Starts connecting; once the instrument answers the screen streams into sink. False
    // (Error() says why) when the session cannot be set up at all.
    bool Start(FrameSink sink);
    // Ends it: no more frames, the link closed, the workers joined, bounded (well under 2 s).
    // Safe to call twice; the sink is never called after this returns.
    void Stop();

    // Sends one command text (a key, "KEYP x,y") through the session's one send path.
    void SendKey(std::string text);

    std::string Error() const { return error_; }
    bool LinkUp() const;
    // The model name the instrument gave; empty before the first connect.
    std::string ModelName() const;
    qv::SessionController& session() { return *session_; }

  signals:
    // The link is up and the screen streams: after the first connect and after each heal.
    void connected();
    // The link was lost; the session heals it by itself.
    void linkLost();
    // The first connect failed: nothing will come. reason is the text for the user.
    void failed(const QString& reason);

  private:
    void OnState();

    Options options_;
    QTemporaryDir home_;  // settings and log
    qv::CDevComm engine_;
    std::unique_ptr<qv::SettingsStore> store_;
    std::unique_ptr<qv::SessionController> session_;
    std::string error_;
    bool everConnected_ = false;
    bool wasUp_ = false;
    bool stopped_ = false;
};

// SIGTERM, SIGINT and SIGHUP call onSignal on the application's thread, through its event
// loop, instead of ending the program. Call once, after the QCoreApplication exists.
bool HandleStopSignals(std::function<void(int signal)> onSignal);

}  // namespace qvctl
