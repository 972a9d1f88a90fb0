// The share's inside, on the share's thread: the listeners, the HTTP front that serves the
// page and lets only same-origin socket upgrades through, and the viewers.
#pragma once

#include <QAbstractHttpServer>
#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QTimer>
#include <QWebSocket>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "share/ShareServer.h"

class QTcpServer;
class QTcpSocket;

namespace qv::share {

// What the owner's thread hands over: the newest frame and status, taken by the core.
struct ShareInbox {
    std::mutex lock;
    QByteArray frame;
    std::chrono::steady_clock::time_point received{};
    bool framePosted = false;
    ShareStatus status;
    bool statusPosted = false;
};

class ShareCore;

// The page and the socket upgrade. One request per connection: every answer closes it.
class HttpFront : public QAbstractHttpServer {
  public:
    HttpFront(ShareCore& core, bool tls) : core_(core), tls_(tls) {}

  protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

  private:
    ShareCore& core_;
    bool tls_;
};

class ShareCore : public QObject {
    Q_OBJECT
  public:
    using Clock = std::chrono::steady_clock;

    ShareCore(ShareConfig config, QByteArray viewToken, QByteArray controlToken,
              std::shared_ptr<ShareInbox> inbox);
    ~ShareCore() override;

    // On the share's thread: listens; the port taken, or 0 with error set.
    quint16 Open(QString& error);
    // On the share's thread: Open, and its outcome announced by opened().
    void Listen();
    // On the share's thread: every socket aborted, the listeners closed, the thread told to end.
    void Shutdown();
    QList<QHostAddress> Bound() const;

    void TakeInbox();

    // For the HTTP front.
    bool AdmitConnection(QTcpSocket* socket);
    void MarkUpgraded(QTcpSocket* socket);
    bool UpgradeRoom() const;
    const QString& machineName() const { return machineName_; }

  signals:
    // The port taken and the addresses bound, or 0 and why not.
    void opened(quint16 port, const QList<QHostAddress>& bound, const QString& error);
    void viewersChanged(int count);
    void press(const QString& peer, const qv::share::SharePress& press);

  private:
    enum class Role { Pending, View, Control };
    struct Viewer {
        std::unique_ptr<QWebSocket> socket;
        QString peer;
        Role role = Role::Pending;
        Clock::time_point since{};
        Clock::time_point lastHeard{};
        bool inFlight = false;
        quint32 sentSeq = 0;
        RateWindow commands;
        RateWindow messages;
        Viewer(int perSecond)
            : commands(static_cast<std::size_t>(perSecond), std::chrono::seconds(1)),
              messages(static_cast<std::size_t>(perSecond) * 5, std::chrono::seconds(1)) {}
    };

    void OnNewSocket();
    void OnText(QWebSocket* socket, const QString& text);
    void OnHello(Viewer& viewer, const ViewerMessage& message);
    void OnPress(Viewer& viewer, const ViewerMessage& message);
    void SendFrame(Viewer& viewer);
    void SendJson(Viewer& viewer, const QJsonObject& object);
    QJsonObject StatusJson() const;
    QJsonObject WelcomeJson(const Viewer& viewer) const;
    // Ends a viewer: a close frame with code and reason, then the socket is aborted if the
    // peer does not answer within a second.
    void Drop(QWebSocket* socket, int code, const QString& reason);
    void Tick();
    int Admitted() const;
    void AnnounceCount();

    ShareConfig config_;
    QByteArray viewToken_;
    QByteArray controlToken_;
    std::shared_ptr<ShareInbox> inbox_;
    QString machineName_;
    HttpFront* front_ = nullptr;
    std::vector<QTcpServer*> listeners_;
    std::map<QWebSocket*, std::unique_ptr<Viewer>> viewers_;
    struct Closing {
        std::unique_ptr<QWebSocket> socket;
        Clock::time_point deadline;
    };
    std::vector<Closing> closing_;
    int httpConnections_ = 0;
    QTimer tick_;
    Clock::time_point lastPing_{};
    QByteArray frame_;
    Clock::time_point frameReceived_{};
    quint32 seq_ = 0;
    QByteArray message_;  // the frame as last sent, head and all
    quint32 messageSeq_ = 0;
    quint32 messageAge_ = 0;
    ShareStatus status_;
    int announced_ = -1;
    bool shutDown_ = false;
};

}  // namespace qv::share
