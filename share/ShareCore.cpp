#include "share/ShareCore.h"

#include <QFile>
#include <QHostInfo>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QUrl>

#include "link/Printable.h"

namespace qv::share {
namespace {

constexpr qint64 kFirstLineMax = 2048;
constexpr auto kCloseGrace = std::chrono::milliseconds(1000);
constexpr auto kTick = std::chrono::milliseconds(100);

// Close codes of our own (4000-4999 belong to applications).
constexpr int kCloseToken = 4001;
constexpr int kCloseFull = 4008;
constexpr int kCloseFlood = 4029;

const char* const kAnsweredProperty = "qvAnswered";
const char* const kRefusalProperty = "qvRefusal";

// A refusal on a connection the HTTP library has not parsed (or could not): a fixed answer,
// then the connection ends; one that does not read it is cut off a second later.
void RawRefusal(QTcpSocket* socket, const char* status, const char* text) {
    if (socket->property(kAnsweredProperty).toBool() ||
        socket->state() != QAbstractSocket::ConnectedState) {
        socket->abort();
        return;
    }
    socket->setProperty(kAnsweredProperty, true);
    const QByteArray body(text);
    QByteArray head = QByteArrayLiteral("HTTP/1.1 ") + status +
                      "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
                      QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n";
    socket->write(head + body);
    socket->disconnectFromHost();
    QTimer::singleShot(kCloseGrace, socket, [socket] { socket->abort(); });
}

// The request line as browsers send it: METHOD /path HTTP/1.x. The library parses the
// request; this only refuses, with an answer, what it would drop without one.
bool RequestLineLooksRight(const QByteArray& line) {
    const QList<QByteArray> parts = line.split(' ');
    if (parts.size() != 3 || parts[0].isEmpty() || parts[0].size() > 10) {
        return false;
    }
    for (const char c : parts[0]) {
        if (c < 'A' || c > 'Z') {
            return false;
        }
    }
    if (!parts[1].startsWith('/')) {
        return false;
    }
    for (const char c : parts[1]) {
        if (c <= 0x20 || c >= 0x7F) {
            return false;
        }
    }
    return parts[2] == "HTTP/1.1" || parts[2] == "HTTP/1.0";
}

// Every listener takes only what the share can hold: a bounded number of connections, each
// with a bounded read buffer, a deadline for its one request, and a sane request line.
template <class Base>
class GuardedListener : public Base {
  public:
    explicit GuardedListener(ShareCore& core) : core_(core) {}
    QTcpSocket* nextPendingConnection() override {
        while (QTcpSocket* socket = Base::nextPendingConnection()) {
            if (core_.AdmitConnection(socket)) {
                return socket;
            }
        }
        return nullptr;
    }

  private:
    ShareCore& core_;
};

QByteArray Resource(const char* name) {
    QFile file(QStringLiteral(":/share/") + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct Page {
    const char* path;
    const char* file;
    const char* type;
};

constexpr Page kPages[] = {
    {"/", "index.html", "text/html; charset=utf-8"},
    {"/app.js", "app.js", "text/javascript; charset=utf-8"},
    {"/style.css", "style.css", "text/css; charset=utf-8"},
};

QString Peer(const QHostAddress& address, quint16 port) {
    QHostAddress plain = address;
    bool v4 = false;
    const quint32 mapped = address.toIPv4Address(&v4);
    if (v4) {
        plain = QHostAddress(mapped);
    }
    const QString text = plain.protocol() == QAbstractSocket::IPv6Protocol
                             ? QStringLiteral("[%1]:%2").arg(plain.toString()).arg(port)
                             : QStringLiteral("%1:%2").arg(plain.toString()).arg(port);
    return QString::fromStdString(qv::Printable(text.toStdString()));
}

}  // namespace

bool HttpFront::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) {
    const auto refuse = [socket](int status, const char* text) {
        socket->setProperty(kRefusalProperty,
                            QStringLiteral("%1 %2").arg(status).arg(QLatin1String(text)));
        return false;
    };
    const QByteArray host = request.value("host");
    if (!HostAllowed(host, core_.machineName())) {
        return refuse(421, "this share answers to its address only");
    }
    const bool upgrade =
        request.value("upgrade").compare(QByteArrayLiteral("websocket"), Qt::CaseInsensitive) == 0;
    const QString path = request.url().path();
    if (upgrade) {
        if (path != QLatin1String("/ws") || request.method() != QHttpServerRequest::Method::Get) {
            return refuse(404, "no socket here");
        }
        if (!OriginMatches(request.value("origin"), host, tls_)) {
            return refuse(403, "the socket is for the share's own page");
        }
        if (!core_.UpgradeRoom()) {
            return refuse(503, "too many connections");
        }
        core_.MarkUpgraded(socket);
        return true;
    }
    if (request.method() != QHttpServerRequest::Method::Get) {
        return refuse(405, "only GET");
    }
    for (const Page& page : kPages) {
        if (path == QLatin1String(page.path)) {
            const QByteArray body = Resource(page.file);
            const QByteArray sockets = (tls_ ? QByteArrayLiteral("wss://") : "ws://") + host;
            const QByteArray csp =
                "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' blob:; "
                "connect-src 'self' " +
                sockets + "; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";
            QHttpServerResponder responder = makeResponder(request, socket);
            responder.writeStatusLine(QHttpServerResponder::StatusCode::Ok);
            responder.writeHeader("Content-Type", page.type);
            responder.writeHeader("Content-Security-Policy", csp);
            responder.writeHeader("X-Content-Type-Options", "nosniff");
            responder.writeHeader("X-Frame-Options", "DENY");
            responder.writeHeader("Referrer-Policy", "no-referrer");
            responder.writeHeader("Cache-Control", "no-store");
            responder.writeHeader("Connection", "close");
            responder.writeHeader("Content-Length", QByteArray::number(body.size()));
            responder.writeBody(body);
            socket->setProperty(kAnsweredProperty, true);
            socket->disconnectFromHost();
            return true;
        }
    }
    return refuse(404, "not found");
}

void HttpFront::missingHandler(const QHttpServerRequest& /*request*/, QTcpSocket* socket) {
    QString refusal = socket->property(kRefusalProperty).toString();
    if (refusal.isEmpty()) {
        refusal = QStringLiteral("404 not found");
    }
    const int space = static_cast<int>(refusal.indexOf(QLatin1Char(' ')));
    const QByteArray status = refusal.left(space).toLatin1();
    const QByteArray text = refusal.mid(space + 1).toUtf8() + '\n';
    const QByteArray reason = status == "403"   ? "Forbidden"
                              : status == "404" ? "Not Found"
                              : status == "405" ? "Method Not Allowed"
                              : status == "421" ? "Misdirected Request"
                                                : "Service Unavailable";
    RawRefusal(socket, (status + ' ' + reason).constData(), text.constData());
}

ShareCore::ShareCore(ShareConfig config, QByteArray viewToken, QByteArray controlToken,
                     std::shared_ptr<ShareInbox> inbox)
    : config_(std::move(config)),
      viewToken_(std::move(viewToken)),
      controlToken_(std::move(controlToken)),
      inbox_(std::move(inbox)),
      machineName_(QHostInfo::localHostName()),
      tick_(this) {
    connect(&tick_, &QTimer::timeout, this, &ShareCore::Tick);
}

ShareCore::~ShareCore() = default;

quint16 ShareCore::Open(QString& error) {
    const bool tls = !config_.certFile.isEmpty() && !config_.keyFile.isEmpty();
    QSslConfiguration ssl;
    if (tls) {
        const QList<QSslCertificate> chain = QSslCertificate::fromPath(config_.certFile);
        QFile keyFile(config_.keyFile);
        if (chain.isEmpty() || !keyFile.open(QIODevice::ReadOnly)) {
            error = QStringLiteral("cannot read the certificate or the key");
            return 0;
        }
        const QByteArray pem = keyFile.readAll();
        QSslKey key(pem, QSsl::Rsa);
        if (key.isNull()) {
            key = QSslKey(pem, QSsl::Ec);
        }
        if (key.isNull()) {
            error = QStringLiteral("the key is not an RSA or EC key in PEM");
            return 0;
        }
        ssl = QSslConfiguration::defaultConfiguration();
        ssl.setLocalCertificateChain(chain);
        ssl.setPrivateKey(key);
    }
    front_ = new HttpFront(*this, tls);
    front_->setParent(this);
    connect(front_, &QAbstractHttpServer::newWebSocketConnection, this, &ShareCore::OnNewSocket);

    const int tries = config_.port == 0 ? 10 : std::max(1, config_.portTries);
    for (int t = 0; t < tries; ++t) {
        quint16 port = config_.port == 0 ? 0 : static_cast<quint16>(config_.port + t);
        if (config_.port != 0 && port < config_.port) {
            break;  // ran past 65535
        }
        std::vector<QTcpServer*> made;
        bool ok = true;
        for (const QHostAddress& address : config_.addresses) {
            QTcpServer* server = nullptr;
            if (tls) {
                auto* s = new GuardedListener<QSslServer>(*this);
                s->setSslConfiguration(ssl);
                server = s;
            } else {
                server = new GuardedListener<QTcpServer>(*this);
            }
            made.push_back(server);
            if (!server->listen(address, port)) {
                error = server->errorString();
                ok = false;
                break;
            }
            port = server->serverPort();
        }
        if (ok && !made.empty()) {
            for (QTcpServer* server : made) {
                front_->bind(server);
            }
            listeners_ = made;
            tick_.start(kTick);
            return port;
        }
        for (QTcpServer* server : made) {
            delete server;
        }
    }
    if (error.isEmpty()) {
        error = QStringLiteral("no address to listen on");
    }
    return 0;
}

void ShareCore::Listen() {
    QString error;
    const quint16 port = Open(error);
    emit opened(port, Bound(), error);
}

QList<QHostAddress> ShareCore::Bound() const {
    QList<QHostAddress> out;
    for (const QTcpServer* server : listeners_) {
        out.append(server->serverAddress());
    }
    return out;
}

void ShareCore::Shutdown() {
    shutDown_ = true;
    tick_.stop();
    // A close frame to every browser that still reads, then the sockets go at once.
    for (auto& [ws, viewer] : viewers_) {
        QObject::disconnect(ws, nullptr, this, nullptr);
        ws->close(QWebSocketProtocol::CloseCodeGoingAway, QStringLiteral("the share ended"));
        ws->flush();
        ws->abort();
    }
    viewers_.clear();
    for (Closing& c : closing_) {
        QObject::disconnect(c.socket.get(), nullptr, this, nullptr);
        c.socket->abort();
    }
    closing_.clear();
    delete front_;  // the listeners and every HTTP connection with it
    front_ = nullptr;
    listeners_.clear();
    AnnounceCount();
    thread()->quit();
}

bool ShareCore::AdmitConnection(QTcpSocket* socket) {
    if (shutDown_ || httpConnections_ >= ShareServer::kMaxHttpConnections) {
        connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
        RawRefusal(socket, "503 Service Unavailable", "too many connections\n");
        return false;
    }
    ++httpConnections_;
    socket->setProperty("qvCounted", true);
    connect(socket, &QObject::destroyed, this, [this](QObject* gone) {
        if (gone->property("qvCounted").toBool()) {
            --httpConnections_;
        }
    });
    socket->setReadBufferSize(ShareServer::kReadBuffer);
    // A frame goes out as a head and a body: without this the body waits for the viewer's
    // delayed acknowledgement (Nagle), some 40 ms a frame.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    auto* deadline = new QTimer(socket);
    deadline->setObjectName(QStringLiteral("qvDeadline"));
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, socket, [socket] {
        RawRefusal(socket, "408 Request Timeout", "request incomplete or too large\n");
    });
    deadline->start(config_.httpDeadline);
    // Runs before the library's own reader (connected after this returns).
    auto first = std::make_shared<QMetaObject::Connection>();
    *first = connect(socket, &QIODevice::readyRead, this, [socket, first] {
        const QByteArray head = socket->peek(kFirstLineMax);
        const qsizetype end = head.indexOf('\n');
        if (end < 0) {
            if (head.size() >= kFirstLineMax) {
                QObject::disconnect(*first);
                socket->readAll();
                RawRefusal(socket, "414 URI Too Long", "request line too long\n");
            }
            return;
        }
        QObject::disconnect(*first);
        QByteArray line = head.left(end);
        if (line.endsWith('\r')) {
            line.chop(1);
        }
        if (!RequestLineLooksRight(line)) {
            socket->readAll();
            RawRefusal(socket, "400 Bad Request", "malformed request\n");
        }
    });
    return true;
}

void ShareCore::MarkUpgraded(QTcpSocket* socket) {
    if (socket->property("qvCounted").toBool()) {
        socket->setProperty("qvCounted", false);
        --httpConnections_;
    }
    if (auto* deadline = socket->findChild<QTimer*>(QStringLiteral("qvDeadline"))) {
        deadline->stop();
        deadline->deleteLater();
    }
    socket->setReadBufferSize(0);
}

bool ShareCore::UpgradeRoom() const {
    int pending = 0;
    for (const auto& [ws, viewer] : viewers_) {
        pending += viewer->role == Role::Pending ? 1 : 0;
    }
    // As many may be on their way in as the share takes viewers; each has the hello
    // deadline to say its token.
    return !shutDown_ && pending < std::max(ShareServer::kMaxPendingSockets, config_.maxViewers) &&
           static_cast<int>(viewers_.size()) < ShareServer::kMaxViewers + 8;
}

void ShareCore::OnNewSocket() {
    while (front_ != nullptr && front_->hasPendingWebSocketConnections()) {
        std::unique_ptr<QWebSocket> socket = front_->nextPendingWebSocketConnection();
        if (!socket) {
            break;
        }
        QWebSocket* ws = socket.get();
        ws->setParent(nullptr);
        ws->setMaxAllowedIncomingMessageSize(kMaxMessage);
        ws->setMaxAllowedIncomingFrameSize(kMaxMessage);
        auto viewer = std::make_unique<Viewer>(config_.commandsPerSecond);
        viewer->socket = std::move(socket);
        viewer->peer = Peer(ws->peerAddress(), ws->peerPort());
        viewer->since = viewer->lastHeard = Clock::now();
        connect(ws, &QWebSocket::textMessageReceived, this,
                [this, ws](const QString& text) { OnText(ws, text); });
        connect(ws, &QWebSocket::binaryMessageReceived, this, [this, ws](const QByteArray&) {
            Drop(ws, QWebSocketProtocol::CloseCodeDatatypeNotSupported,
                 QStringLiteral("only text messages are taken"));
        });
        connect(ws, &QWebSocket::pong, this, [this, ws](quint64, const QByteArray&) {
            if (const auto it = viewers_.find(ws); it != viewers_.end()) {
                it->second->lastHeard = Clock::now();
            }
        });
        connect(ws, &QWebSocket::bytesWritten, this, [this, ws](qint64) {
            if (const auto it = viewers_.find(ws); it != viewers_.end()) {
                Viewer& v = *it->second;
                if (v.role != Role::Pending && !v.inFlight && v.sentSeq != seq_) {
                    SendFrame(v);
                }
            }
        });
        connect(ws, &QWebSocket::disconnected, this, [this, ws] {
            if (const auto it = viewers_.find(ws); it != viewers_.end()) {
                it->second->socket.release()->deleteLater();
                viewers_.erase(it);
                AnnounceCount();
                return;
            }
            for (auto it = closing_.begin(); it != closing_.end(); ++it) {
                if (it->socket.get() == ws) {
                    it->socket.release()->deleteLater();
                    closing_.erase(it);
                    return;
                }
            }
        });
        viewers_.emplace(ws, std::move(viewer));
    }
}

void ShareCore::OnText(QWebSocket* ws, const QString& text) {
    const auto it = viewers_.find(ws);
    if (it == viewers_.end()) {
        return;
    }
    Viewer& v = *it->second;
    const Clock::time_point now = Clock::now();
    v.lastHeard = now;
    const ViewerMessage m = ParseViewerMessage(text.toUtf8());
    // An ack of the frame in flight comes at the frame rate; everything else is counted.
    const bool answer = m.kind == ViewerMessage::Kind::Ack && v.inFlight;
    if (!answer && !v.messages.Allow(now)) {
        Drop(ws, kCloseFlood, QStringLiteral("too many messages"));
        return;
    }
    if (v.role == Role::Pending) {
        if (m.kind == ViewerMessage::Kind::Hello) {
            OnHello(v, m);
        } else {
            Drop(ws, kCloseToken, QStringLiteral("wrong or missing token"));
        }
        return;
    }
    switch (m.kind) {
        case ViewerMessage::Kind::Ack:
            v.inFlight = false;
            if (v.sentSeq != seq_) {
                SendFrame(v);
            }
            return;
        case ViewerMessage::Kind::Key:
        case ViewerMessage::Kind::Knob:
        case ViewerMessage::Kind::Touch:
            OnPress(v, m);
            return;
        case ViewerMessage::Kind::Hello:
            return;
        case ViewerMessage::Kind::Bad:
            SendJson(v, {{QStringLiteral("t"), QStringLiteral("error")},
                         {QStringLiteral("why"), m.why}});
            return;
    }
}

void ShareCore::OnHello(Viewer& v, const ViewerMessage& m) {
    const bool control = config_.control && TokensEqual(m.token, controlToken_);
    const bool view = TokensEqual(m.token, viewToken_);
    QWebSocket* ws = v.socket.get();
    if (!control && !view) {
        Drop(ws, kCloseToken, QStringLiteral("wrong or missing token"));
        return;
    }
    if (Admitted() >= config_.maxViewers) {
        const QString why =
            QStringLiteral("This share has its %1 viewers already; try again later.")
                .arg(config_.maxViewers);
        SendJson(v,
                 {{QStringLiteral("t"), QStringLiteral("refused")}, {QStringLiteral("why"), why}});
        Drop(ws, kCloseFull, QStringLiteral("share full: %1 viewers").arg(config_.maxViewers));
        return;
    }
    v.role = control ? Role::Control : Role::View;
    SendJson(v, WelcomeJson(v));
    AnnounceCount();
    if (!frame_.isEmpty()) {
        SendFrame(v);
    }
}

void ShareCore::OnPress(Viewer& v, const ViewerMessage& m) {
    const auto refused = [this, &v](const QString& why) {
        SendJson(v,
                 {{QStringLiteral("t"), QStringLiteral("refused")}, {QStringLiteral("why"), why}});
    };
    if (v.role != Role::Control) {
        refused(QStringLiteral("this link is for viewing only"));
        return;
    }
    if (!status_.streaming || status_.link != ShareStatus::Link::Up) {
        refused(QStringLiteral("remote control is not running"));
        return;
    }
    SharePress press;
    QString why;
    if (!CheckPress(m, config_.keys, status_.touches, press, why)) {
        refused(why);
        return;
    }
    if (!v.commands.Allow(Clock::now())) {
        refused(QStringLiteral("at most %1 commands a second").arg(config_.commandsPerSecond));
        return;
    }
    emit this->press(v.peer, press);
}

void ShareCore::SendFrame(Viewer& v) {
    if (frame_.isEmpty() || v.inFlight || v.socket->bytesToWrite() > 0) {
        return;
    }
    const auto age = static_cast<quint32>(std::max<qint64>(
        0, std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - frameReceived_)
               .count()));
    // Viewers sent to within the same millisecond share one message rather than each having
    // the frame copied into a message of its own.
    if (message_.isEmpty() || messageSeq_ != seq_ || messageAge_ != age) {
        message_ = FrameMessage(seq_, age, frame_);
        messageSeq_ = seq_;
        messageAge_ = age;
    }
    v.inFlight = true;
    v.sentSeq = seq_;
    v.socket->sendBinaryMessage(message_);
    // Handed to the system now rather than when the loop comes round: the first viewers do
    // not wait for the copies made for the last, and the buffers Qt copies the message into
    // are freed and reused at once instead of 50 of them being held at a time.
    v.socket->flush();
}

void ShareCore::SendJson(Viewer& v, const QJsonObject& object) {
    v.socket->sendTextMessage(
        QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)));
}

QJsonObject ShareCore::StatusJson() const {
    const char* link = status_.link == ShareStatus::Link::Up        ? "up"
                       : status_.link == ShareStatus::Link::Healing ? "healing"
                                                                    : "down";
    return {{QStringLiteral("t"), QStringLiteral("status")},
            {QStringLiteral("link"), QLatin1String(link)},
            {QStringLiteral("attempt"), status_.attempt},
            {QStringLiteral("streaming"), status_.streaming},
            {QStringLiteral("touches"), status_.touches},
            {QStringLiteral("model"), status_.model}};
}

QJsonObject ShareCore::WelcomeJson(const Viewer& v) const {
    QJsonObject o{{QStringLiteral("t"), QStringLiteral("welcome")},
                  {QStringLiteral("control"), v.role == Role::Control},
                  {QStringLiteral("status"), StatusJson()},
                  {QStringLiteral("screen"),
                   QJsonArray{config_.keys.screenWidth, config_.keys.screenHeight}}};
    if (v.role == Role::Control) {
        QJsonArray keys;
        for (const ShareKey& key : config_.keys.keys) {
            keys.append(
                QJsonObject{{QStringLiteral("id"), key.id},
                            {QStringLiteral("label"), QString::fromStdString(key.label)},
                            {QStringLiteral("second"), QString::fromStdString(key.second)}});
        }
        o.insert(QStringLiteral("keys"), keys);
        o.insert(QStringLiteral("keyboard"), BrowserKeyCodes(config_.keys.keyboard));
    }
    return o;
}

void ShareCore::Drop(QWebSocket* ws, int code, const QString& reason) {
    const auto it = viewers_.find(ws);
    if (it == viewers_.end()) {
        return;
    }
    std::unique_ptr<QWebSocket> socket = std::move(it->second->socket);
    viewers_.erase(it);
    socket->close(static_cast<QWebSocketProtocol::CloseCode>(code), reason);
    closing_.push_back({std::move(socket), Clock::now() + kCloseGrace});
    AnnounceCount();
}

void ShareCore::Tick() {
    const Clock::time_point now = Clock::now();
    std::vector<QWebSocket*> late;
    std::vector<QWebSocket*> silent;
    for (const auto& [ws, v] : viewers_) {
        if (v->role == Role::Pending && now - v->since >= config_.helloDeadline) {
            late.push_back(ws);
        } else if (v->role != Role::Pending && now - v->lastHeard >= config_.idleTimeout) {
            silent.push_back(ws);
        }
    }
    for (QWebSocket* ws : late) {
        Drop(ws, kCloseToken, QStringLiteral("no token in time"));
    }
    for (QWebSocket* ws : silent) {
        // It reads nothing: a close frame would only wait behind what it did not read.
        const auto it = viewers_.find(ws);
        it->second->socket.release()->deleteLater();
        viewers_.erase(it);
        ws->abort();
    }
    if (!silent.empty()) {
        AnnounceCount();
    }
    if (now - lastPing_ >= config_.pingPeriod) {
        lastPing_ = now;
        for (const auto& [ws, v] : viewers_) {
            if (v->role != Role::Pending) {
                ws->ping();
            }
        }
    }
    for (auto it = closing_.begin(); it != closing_.end();) {
        if (now >= it->deadline) {
            QWebSocket* ws = it->socket.release();
            it = closing_.erase(it);
            ws->abort();
            ws->deleteLater();
        } else {
            ++it;
        }
    }
}

void ShareCore::TakeInbox() {
    bool haveFrame = false;
    bool haveStatus = false;
    {
        std::lock_guard hold(inbox_->lock);
        if (inbox_->framePosted) {
            frame_ = std::move(inbox_->frame);
            inbox_->frame = QByteArray();
            frameReceived_ = inbox_->received;
            inbox_->framePosted = false;
            haveFrame = true;
        }
        if (inbox_->statusPosted) {
            status_ = inbox_->status;
            inbox_->statusPosted = false;
            haveStatus = true;
        }
    }
    if (shutDown_) {
        return;
    }
    if (haveStatus) {
        const QJsonObject status = StatusJson();
        for (auto& [ws, v] : viewers_) {
            if (v->role != Role::Pending) {
                SendJson(*v, status);
            }
        }
    }
    if (haveFrame) {
        ++seq_;
        for (auto& [ws, v] : viewers_) {
            if (v->role != Role::Pending) {
                SendFrame(*v);
            }
        }
    }
}

int ShareCore::Admitted() const {
    int n = 0;
    for (const auto& [ws, v] : viewers_) {
        n += v->role != Role::Pending ? 1 : 0;
    }
    return n;
}

void ShareCore::AnnounceCount() {
    const int n = Admitted();
    if (n != announced_) {
        announced_ = n;
        emit viewersChanged(n);
    }
}

}  // namespace qv::share
