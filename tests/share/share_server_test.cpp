// The share's server against real clients on loopback: QWebSocket viewers as a browser's
// page would be, raw TCP for what no browser sends. Timeouts are shortened through the
// config; every wait ends on an event or its deadline (5 s unless given).
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QProcess>
#include <QSignalSpy>
#include <QSslError>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <vector>

#include "share/ShareServer.h"
#include "tests/share/ClientFrame.h"
#include "tests/share/ShareViewer.h"

namespace {

using namespace std::chrono_literals;
using qv::share::ShareConfig;
using qv::share::ShareServer;
using qv::share::ShareStatus;
using qv::share::test::Viewer;

// Listening takes milliseconds; a loaded machine under a sanitizer gets far more.
constexpr int kOutcomeDeadline = 10000;

QByteArray Jpeg(int n) {
    return QByteArray("\xFF\xD8", 2) + QByteArray(2000 + n, static_cast<char>('a' + n % 26)) +
           QByteArray("\xFF\xD9", 2);
}

// A WebSocket upgrade as a browser asks for it, from the page at this origin.
QByteArray Upgrade(const QByteArray& host, const QByteArray& origin) {
    return "GET /ws HTTP/1.1\r\nHost: " + host +
           "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Version: 13\r\n"
           "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nOrigin: " +
           origin + "\r\n\r\n";
}

class ShareServerTest : public testing::Test {
  protected:
    void SetUp() override {
        config_.port = 0;
        config_.keys.keys = {{1089, "5", "", "KEYP:NUM5"}, {1079, "Marker", "", "KEYP:MARK"}};
        config_.keys.knobId = 1101;
        config_.keys.screenWidth = 800;
        config_.keys.screenHeight = 480;
        config_.helloDeadline = 400ms;
        config_.pingPeriod = 100ms;
        config_.idleTimeout = 600ms;
        config_.httpDeadline = 400ms;
        QObject::connect(&server_, &ShareServer::press,
                         [this](const QString& peer, const qv::share::SharePress& p) {
                             presses_.push_back(p.command);
                             peers_.push_back(peer);
                         });
        QObject::connect(&server_, &ShareServer::viewersChanged, [this](int n) { viewers_ = n; });
    }
    void TearDown() override { server_.Stop(); }

    // Start and its outcome: empty when listening, else why not.
    QString Listen() {
        QSignalSpy started(&server_, &ShareServer::started);
        QString error;
        if (!server_.Start(config_, error)) {
            return error;
        }
        if (!started.wait(kOutcomeDeadline)) {
            return QStringLiteral("no outcome");
        }
        return started.at(0).at(0).toBool() ? QString() : started.at(0).at(1).toString();
    }
    void Start() {
        const QString error = Listen();
        ASSERT_TRUE(error.isEmpty()) << error.toStdString();
        ASSERT_TRUE(server_.Listening());
        server_.SetStatus({.link = ShareStatus::Link::Up,
                           .streaming = true,
                           .touches = true,
                           .model = QStringLiteral("QV364C")});
    }
    QString Origin() const { return QStringLiteral("http://127.0.0.1:%1").arg(server_.Port()); }
    QString WsUrl() const { return QStringLiteral("ws://127.0.0.1:%1/ws").arg(server_.Port()); }
    QString Token(bool control) const {
        const QString link =
            control ? server_.ControlLink("127.0.0.1") : server_.ViewLink("127.0.0.1");
        return link.mid(link.indexOf('#') + 1);
    }
    // A viewer that has sent its token and been let in or shut out.
    std::unique_ptr<Viewer> Join(bool control) {
        auto v = std::make_unique<Viewer>(Origin());
        v->Open(WsUrl(), Token(control));
        EXPECT_TRUE(QTest::qWaitFor([&] { return v->Has("welcome") || v->closed; }));
        return v;
    }
    // A socket that is shut out: it hears nothing but its close, within the hello deadline.
    std::unique_ptr<Viewer> Knock(const QString& origin, const QString& token) {
        auto v = std::make_unique<Viewer>(origin);
        v->Open(WsUrl(), token);
        EXPECT_TRUE(QTest::qWaitFor([&] { return v->closed; }, 3000));
        EXPECT_TRUE(v->frames.empty() && v->texts.empty());
        return v;
    }
    // A WebSocket client by hand that says hello and then reads nothing more.
    std::unique_ptr<QTcpSocket> Stalled() {
        auto s = std::make_unique<QTcpSocket>();
        s->connectToHost(QHostAddress::LocalHost, server_.Port());
        EXPECT_TRUE(s->waitForConnected(2000));
        s->write(Upgrade(Host(), Origin().toLatin1()));
        QByteArray answer;
        EXPECT_TRUE(QTest::qWaitFor([&] {
            answer += s->readAll();
            return answer.contains("\r\n\r\n");
        }));
        EXPECT_TRUE(answer.startsWith("HTTP/1.1 101"));
        s->write(qv::share::test::HelloFrame(Token(false).toLatin1()));
        s->flush();
        s->setReadBufferSize(1);  // from here on it reads (almost) nothing
        return s;
    }
    // One request on a connection of its own; everything the share answers until it closes.
    QByteArray Http(const QByteArray& request) {
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, server_.Port());
        EXPECT_TRUE(s.waitForConnected(2000));
        s.write(request);
        QByteArray answer;
        EXPECT_TRUE(QTest::qWaitFor([&] {
            answer += s.readAll();
            return s.state() == QAbstractSocket::UnconnectedState;
        })) << "still open";
        return answer + s.readAll();
    }
    QByteArray Host() const { return "127.0.0.1:" + QByteArray::number(server_.Port()); }
    QByteArray Get(const char* path, const QByteArray& host = {}) const {
        return "GET " + QByteArray(path) +
               " HTTP/1.1\r\nHost: " + (host.isEmpty() ? Host() : host) + "\r\n\r\n";
    }
    // Pushes a frame and waits until every viewer that acks has it.
    void PushAndWait(const QByteArray& jpeg, const std::vector<Viewer*>& readers) {
        std::vector<std::size_t> before;
        before.reserve(readers.size());
        for (Viewer* v : readers) {
            before.push_back(v->frames.size());
        }
        server_.PushFrame(jpeg);
        for (std::size_t i = 0; i < readers.size(); ++i) {
            ASSERT_TRUE(QTest::qWaitFor([&] { return readers[i]->frames.size() > before[i]; }))
                << "viewer " << i;
        }
    }

    ShareConfig config_;
    ShareServer server_;
    std::vector<std::string> presses_;
    std::vector<QString> peers_;
    int viewers_ = 0;
};

// One share with remote control and the viewers a day brings: the page and its refusals,
// sockets shut out, a viewer and a controller, a flood, a message too long, a slow reader, one
// that never reads, a ninth of eight; each bad one gets its clear refusal and the rest go on.
// Stop then ends them all at once, a stalled one too.
TEST_F(ShareServerTest, OneShareWithEveryKindOfViewer) {
    config_.control = true;
    Start();
    auto viewer = Join(false);
    auto c = Join(true);
    ASSERT_TRUE(viewer->Has("welcome") && c->Has("welcome"));
    EXPECT_FALSE(viewer->texts.front().value("control").toBool());
    EXPECT_FALSE(viewer->texts.front().contains("keys"));
    EXPECT_TRUE(c->texts.front().value("control").toBool());
    EXPECT_EQ(c->texts.front().value("keys").toArray().size(), 2);
    PushAndWait(Jpeg(7), {viewer.get(), c.get()});
    EXPECT_EQ(viewer->frames.back(), Jpeg(7));

    const QByteArray page = Http(Get("/"));
    EXPECT_TRUE(page.startsWith("HTTP/1.1 200")) << page.left(200).toStdString();
    EXPECT_TRUE(page.contains("Content-Security-Policy: default-src 'none'; script-src 'self'"));
    EXPECT_TRUE(page.contains("X-Content-Type-Options: nosniff"));
    EXPECT_TRUE(page.contains("Connection: close"));
    EXPECT_FALSE(page.contains("Access-Control-Allow-Origin"));
    EXPECT_TRUE(page.contains("<script src=\"/app.js\" defer></script>"));
    // clang-format off
    const std::tuple<QByteArray, const char*, const char*> requests[] = {
        {Get("/app.js"), "200", ""},
        {Get("/style.css"), "200", ""},
        {Get("/etc/passwd"), "404", ""},
        {Get("/", "rebound.example:8066"), "421", ""},
        {"POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 2\r\n\r\nab", "405", ""},
        {"\x16\x03\x01 hello there\r\n\r\n", "400", "malformed request"},
        {QByteArray(3000, 'A'), "414", ""},
        {"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n", "408", ""},  // never finished: at its deadline
        {Upgrade(Host(), "http://evil.example"), "403", ""},
    };
    // clang-format on
    for (const auto& [request, status, text] : requests) {
        const QByteArray answer = Http(request);
        EXPECT_TRUE(answer.startsWith("HTTP/1.1 " + QByteArray(status)) && answer.contains(text))
            << request.left(40).toStdString() << " -> " << answer.left(200).toStdString();
    }
    // A socket from another page is never opened; a wrong token, or none, gets nothing but a
    // closed socket.
    EXPECT_FALSE(Knock("http://evil.example", Token(false))->opened);
    QString bad = Token(false);
    bad[0] = bad[0] == 'a' ? 'b' : 'a';
    for (const QString& token : {bad, QString()}) {
        auto v = Knock(Origin(), token);
        EXPECT_TRUE(v->opened);
        EXPECT_EQ(static_cast<int>(v->ws.closeCode()), 4001);
    }
    EXPECT_NE(Token(false), Token(true));
    EXPECT_EQ(server_.Viewers(), 2);

    // A viewer cannot press; a controller's presses are checked against the panel, carry its
    // address, and are taken only while remote control runs.
    viewer->Send(R"({"t":"key","id":1089})");
    ASSERT_TRUE(QTest::qWaitFor([&] { return viewer->Has("refused"); }));
    EXPECT_EQ(viewer->Why("refused"), "this link is for viewing only");
    c->Send(R"({"t":"key","id":1089})");
    c->Send(R"({"t":"knob","dir":1})");
    c->Send(R"({"t":"touch","x":120,"y":200})");
    ASSERT_TRUE(QTest::qWaitFor([&] { return presses_.size() == 3; }));
    // A touch's text is the session's to make.
    EXPECT_EQ(presses_, (std::vector<std::string>{"KEYP:NUM5", "KEYP:RIGH", ""}));
    EXPECT_EQ(peers_[0], QStringLiteral("127.0.0.1:%1").arg(c->ws.localPort()));
    c->Send(R"({"t":"key","id":4242})");
    c->Send(R"({"t":"touch","x":800,"y":0})");
    ASSERT_TRUE(QTest::qWaitFor([&] { return c->Count("refused") == 2; }));

    // A flood: the twenty-first command of a second is refused, the connection stays.
    auto flooder = Join(true);
    for (int i = 0; i < 30; ++i) {
        flooder->Send(R"({"t":"key","id":1079})");
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return flooder->Count("refused") == 10; }));
    EXPECT_EQ(flooder->Why("refused"), "at most 20 commands a second");
    ASSERT_TRUE(QTest::qWaitFor([&] { return presses_.size() == 23; }));
    PushAndWait(Jpeg(3), {viewer.get(), flooder.get()});
    EXPECT_EQ(presses_.size(), 23U);
    EXPECT_FALSE(flooder->closed);

    ShareStatus stopped;
    stopped.link = ShareStatus::Link::Up;
    server_.SetStatus(stopped);
    ASSERT_TRUE(QTest::qWaitFor([&] { return c->Count("status") >= 1; }));
    c->Send(R"({"t":"key","id":1089})");
    ASSERT_TRUE(QTest::qWaitFor([&] { return c->Count("refused") == 3; }));

    // The longest message is taken, one byte more closes that socket alone.
    auto big = Join(false);
    const QByteArray head = R"({"t":"ack","p":")";
    const QByteArray fits = head + QByteArray(1024 - head.size() - 2, 'x') + "\"}";
    big->Send(QString::fromLatin1(fits));
    PushAndWait(Jpeg(1), {big.get(), viewer.get()});
    EXPECT_FALSE(big->closed);
    big->Send(QString::fromLatin1(fits + " "));
    ASSERT_TRUE(QTest::qWaitFor([&] { return big->closed; }));
    EXPECT_EQ(big->ws.closeCode(), QWebSocketProtocol::CloseCodeTooMuchData);

    // A slow viewer skips frames and gets the newest; one that never reads is dropped after
    // the idle timeout while the others see every frame.
    auto slow = std::make_unique<Viewer>(Origin());
    slow->acks = false;
    slow->Open(WsUrl(), Token(false));
    auto stalled = Stalled();
    ASSERT_TRUE(QTest::qWaitFor([&] { return viewers_ == 5; }));
    const QByteArray large(200 * 1024, 'x');
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < 20 || t.elapsed() < 1500; ++i) {
        PushAndWait(Jpeg(i % 20) + (i < 20 ? QByteArray() : large), {viewer.get(), c.get()});
    }
    PushAndWait(Jpeg(19), {viewer.get()});
    EXPECT_EQ(slow->frames.size(), 1U);  // one in flight, the rest skipped
    slow->Send(R"({"t":"ack"})");
    ASSERT_TRUE(QTest::qWaitFor([&] { return slow->frames.size() == 2; }));
    EXPECT_EQ(slow->frames.back(), Jpeg(19));
    EXPECT_TRUE(QTest::qWaitFor([&] { return viewers_ == 4; }, 2000));
    EXPECT_FALSE(viewer->closed || c->closed || flooder->closed || slow->closed);

    std::vector<std::unique_ptr<Viewer>> more;
    std::vector<Viewer*> eight{viewer.get(), c.get(), flooder.get()};
    for (int i = 0; i < 4; ++i) {
        more.push_back(Join(i % 2 == 0));
        ASSERT_TRUE(more.back()->Has("welcome")) << i;
        eight.push_back(more.back().get());
    }
    stalled = Stalled();
    ASSERT_TRUE(QTest::qWaitFor([&] { return viewers_ == 8; }));
    auto ninth = Join(false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ninth->closed; }));
    EXPECT_EQ(ninth->Why("refused"), "This share has its 8 viewers already; try again later.");
    EXPECT_EQ(static_cast<int>(ninth->ws.closeCode()), 4008);
    EXPECT_FALSE(ninth->Has("welcome"));
    PushAndWait(Jpeg(4), eight);
    for (int i = 0; i < 20; ++i) {
        server_.PushFrame(Jpeg(i) + QByteArray(300 * 1024, 'y'));
    }
    EXPECT_EQ(server_.Viewers(), 8) << "the stalled one is still there to be ended";
    t.restart();
    server_.Stop();
    EXPECT_LT(t.elapsed(), 2000);
    EXPECT_TRUE(QTest::qWaitFor([&] { return viewer->closed && c->closed && slow->closed; }, 2000));
    EXPECT_FALSE(server_.Running());
    EXPECT_EQ(server_.Viewers(), 0);
}

// Start returns at once and the outcome comes through the event loop; a taken port moves to the
// next free one; a share ends its viewers and its tokens; a share stopped before it listens
// says nothing more. Loopback only unless all networks are chosen; TLS with a certificate.
TEST_F(ShareServerTest, StartsAtOnceListensWhereToldAndEndsCleanly) {
    // The certificate is made while this process has one thread: a fork beside the share's
    // thread is unsafe (the thread sanitizer stops the program).
    QTemporaryDir dir;
    const QString cert = dir.filePath("cert.pem");
    const QString key = dir.filePath("key.pem");
    QProcess openssl;
    openssl.start("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                              "-subj", "/CN=127.0.0.1", "-keyout", key, "-out", cert});
    const bool haveCert = openssl.waitForFinished(20000) && openssl.exitCode() == 0;
    QSignalSpy started(&server_, &ShareServer::started);
    QString error;
    ASSERT_TRUE(server_.Start(config_, error));
    // Nothing is known yet: the share's thread listens while this one goes on.
    EXPECT_TRUE(server_.Running());
    EXPECT_FALSE(server_.Listening());
    EXPECT_EQ(server_.Port(), 0);
    EXPECT_TRUE(server_.ViewLink("127.0.0.1").isEmpty());
    EXPECT_EQ(started.count(), 0);
    ASSERT_TRUE(started.wait(kOutcomeDeadline));
    ASSERT_EQ(started.count(), 1);
    EXPECT_TRUE(started.at(0).at(0).toBool());
    EXPECT_TRUE(server_.Listening());
    EXPECT_EQ(server_.Addresses(),
              (QList<QHostAddress>{QHostAddress(QHostAddress::LocalHost),
                                   QHostAddress(QHostAddress::LocalHostIPv6)}));
    auto v = Join(false);
    EXPECT_TRUE(v->Has("welcome"));
    const QString view = Token(false);

    // A taken port moves to the next free one, ending the share before it and its tokens; with
    // no other to try, the refusal is told the same way and the share is over.
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::LocalHost, 0));
    config_.addresses = {QHostAddress(QHostAddress::LocalHost)};
    config_.port = taken.serverPort();
    Start();
    EXPECT_GT(server_.Port(), taken.serverPort());
    EXPECT_LT(server_.Port(), taken.serverPort() + 20);
    EXPECT_TRUE(server_.ViewLink("127.0.0.1")
                    .startsWith(QStringLiteral("http://127.0.0.1:%1/#").arg(server_.Port())));
    EXPECT_TRUE(server_.ControlLink("127.0.0.1").isEmpty());
    EXPECT_TRUE(QTest::qWaitFor([&] { return v->closed; }));
    EXPECT_NE(Token(false), view);
    EXPECT_EQ(static_cast<int>(Knock(Origin(), view)->ws.closeCode()), 4001);
    config_.portTries = 1;
    const QString refused = Listen();
    EXPECT_FALSE(refused.isEmpty());
    EXPECT_NE(refused, "no outcome");
    EXPECT_FALSE(server_.Running());
    EXPECT_FALSE(server_.Listening());

    config_.portTries = 20;
    config_.port = 0;
    started.clear();
    ASSERT_TRUE(server_.Start(config_, error));
    QElapsedTimer t;
    t.start();
    server_.Stop();
    EXPECT_LT(t.elapsed(), 2000);
    EXPECT_FALSE(server_.Running());
    // The share's thread has ended, so whatever it said is queued here: deliver it all.
    QCoreApplication::sendPostedEvents(&server_);
    QCoreApplication::processEvents();
    EXPECT_EQ(started.count(), 0);
    EXPECT_FALSE(server_.Listening());
    EXPECT_EQ(server_.Port(), 0);
    // A new share right behind a stopped one hears its own outcome only, once.
    config_.addresses = {QHostAddress(QHostAddress::Any)};
    ASSERT_TRUE(server_.Start(config_, error));
    server_.Stop();
    ASSERT_TRUE(server_.Start(config_, error));
    ASSERT_TRUE(started.wait(kOutcomeDeadline));
    QCoreApplication::sendPostedEvents(&server_);
    QCoreApplication::processEvents();
    EXPECT_EQ(started.count(), 1);
    EXPECT_TRUE(server_.Listening());
    EXPECT_EQ(server_.Addresses(), QList<QHostAddress>{QHostAddress(QHostAddress::Any)});
    // Reached through loopback only.
    EXPECT_TRUE(Join(false)->Has("welcome"));

    // With a certificate the page and the socket are encrypted; one that cannot be read is
    // told as the outcome.
    if (!haveCert) {
        GTEST_SKIP() << "openssl cannot make a test certificate";
    }
    config_.addresses = {QHostAddress(QHostAddress::LocalHost)};
    config_.certFile = dir.filePath("missing.pem");
    config_.keyFile = key;
    EXPECT_EQ(Listen(), "cannot read the certificate or the key");
    EXPECT_FALSE(server_.Running());
    config_.certFile = cert;
    Start();
    EXPECT_TRUE(server_.Tls());
    EXPECT_TRUE(server_.ViewLink("127.0.0.1").startsWith("https://127.0.0.1:"));
    Viewer secure(QStringLiteral("https://127.0.0.1:%1").arg(server_.Port()));
    QObject::connect(&secure.ws, &QWebSocket::sslErrors,
                     [&secure](const QList<QSslError>&) { secure.ws.ignoreSslErrors(); });
    secure.Open(WsUrl().replace("ws:", "wss:"), Token(false));
    ASSERT_TRUE(QTest::qWaitFor([&] { return secure.Has("welcome"); }));
    PushAndWait(Jpeg(5), {&secure});
    EXPECT_EQ(secure.frames.back(), Jpeg(5));
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
