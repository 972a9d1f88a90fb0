// The browser share: an HTTP and WebSocket server on a thread of its own that serves the page
// compiled into the program and hands each viewer the frames it is given, as received.
// Viewers prove a token from the link; with the control token their key presses, knob steps
// and touches come out of press() after being checked against the panel.
//
// Threads: Start, Stop and the signals belong to the thread that made the server (the
// window's, or qvctl's main thread), which never waits on the share's thread to listen;
// PushFrame and SetStatus may be called from any thread.
// The server's thread never calls into its owner: it only emits, and every signal reaches
// the owner queued, so nothing is delivered after the owner is gone.
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>

#include "share/ShareKeys.h"
#include "share/ShareProtocol.h"

class QThread;

namespace qv::share {

class ShareCore;
struct ShareInbox;

struct ShareConfig {
    // One listener each; 127.0.0.1 and ::1 for this computer only, Any for all networks.
    QList<QHostAddress> addresses{QHostAddress(QHostAddress::LocalHost),
                                  QHostAddress(QHostAddress::LocalHostIPv6)};
    quint16 port = 8066;
    int portTries = 20;  // the next free port up to port + portTries - 1; 0 port: any free
    bool control = false;
    int maxViewers = 8;
    QString certFile;  // both set: https and wss
    QString keyFile;
    ShareKeySet keys;

    std::chrono::milliseconds helloDeadline{5000};  // the token must come within this
    std::chrono::milliseconds pingPeriod{5000};
    std::chrono::milliseconds idleTimeout{15000};  // nothing heard for this long: dropped
    std::chrono::milliseconds httpDeadline{5000};  // one request per connection, within this
    int commandsPerSecond = 20;
};

// What the page shows beside the picture, and whether presses are taken.
struct ShareStatus {
    enum class Link { Down, Up, Healing };
    Link link = Link::Down;
    int attempt = 0;
    bool streaming = false;  // remote control runs: keys are taken
    bool touches = false;    // the instrument takes touches
    QString model;
};

class ShareServer : public QObject {
    Q_OBJECT
  public:
    static constexpr int kMaxViewers = 64;
    static constexpr int kMaxHttpConnections = 64;
    static constexpr int kMaxPendingSockets = 16;  // sockets that have not sent their token
    static constexpr qint64 kReadBuffer = 16 * 1024;

    explicit ShareServer(QObject* parent = nullptr);
    ~ShareServer() override;
    ShareServer(const ShareServer&) = delete;
    ShareServer& operator=(const ShareServer&) = delete;

    // Makes the tokens and has the share's thread listen; returns at once. false with error
    // set when the configuration is refused before anything starts; otherwise started()
    // follows. A running share is stopped first.
    bool Start(const ShareConfig& config, QString& error);
    // Ends every viewer at once and the thread; bounded (within 2 s). Tokens end with it, and
    // a started() still on its way is dropped.
    void Stop();
    // Starting or listening.
    bool Running() const { return core_ != nullptr; }
    // Port, Addresses and the links are known.
    bool Listening() const { return port_ != 0; }

    quint16 Port() const { return port_; }
    bool Tls() const { return tls_; }
    QList<QHostAddress> Addresses() const { return bound_; }
    // The links to hand out, for host (an address or name the viewer reaches this one by).
    QString ViewLink(const QString& host) const;
    QString ControlLink(const QString& host) const;  // empty without control
    int Viewers() const { return viewers_.load(); }
    // An address of this machine that others may reach (the first IPv4 one not on loopback),
    // for the links of a share on all networks; 127.0.0.1 when there is none.
    static QString OutwardAddress();

    // Any thread. The newest frame wins: viewers that are busy skip the ones between.
    void PushFrame(const QByteArray& jpeg, std::chrono::steady_clock::time_point received =
                                               std::chrono::steady_clock::now());
    void SetStatus(const ShareStatus& status);

  signals:
    // Start's outcome: listening, or stopped again because no port could be had or the
    // certificate cannot be read (error says which).
    void started(bool ok, const QString& error);
    void viewersChanged(int count);
    // A checked press from a controlling viewer; peer is its address, safe for the log.
    void press(const QString& peer, const qv::share::SharePress& press);

  private:
    QString Link(const QString& host, const QByteArray& token) const;
    void OnOpened(quint16 port, const QList<QHostAddress>& bound, const QString& error);

    QThread* thread_ = nullptr;
    ShareCore* core_ = nullptr;
    std::mutex coreLock_;  // PushFrame and SetStatus against Stop
    std::shared_ptr<ShareInbox> inbox_;
    QByteArray viewToken_;
    QByteArray controlToken_;
    quint16 port_ = 0;
    bool tls_ = false;
    bool control_ = false;
    QList<QHostAddress> bound_;
    std::atomic<int> viewers_{0};
    // Counts shares: what an earlier share's thread still sends is told apart and dropped.
    quint64 generation_ = 0;
};

}  // namespace qv::share

Q_DECLARE_METATYPE(qv::share::SharePress)
Q_DECLARE_METATYPE(qv::share::ShareStatus)
