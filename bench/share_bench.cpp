// The browser share under load: a live session against the simulator at the Fast rate, its
// frames served to 1, 10 and 50 viewers (WebSocket clients on a thread of their own, acking
// each frame as the page does). Prints the frames each viewer gets per second, the latency
// the share adds (frame received by the session to frame received by the viewer), the share
// thread's CPU per viewer-frame, and the memory with 5 viewers that stop reading.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QHash>
#include <QThread>
#include <QWebSocket>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "bench/BenchStats.h"
#include "share/ShareServer.h"
#include "sim/SimServer.h"
#include "tools/qvctl/LiveSession.h"

namespace {

using qv::bench::Clock;

// When each frame (by its bytes' hash) reached the session.
struct Arrivals {
    std::mutex lock;
    std::map<std::size_t, Clock::time_point> at;
    void Add(std::size_t hash, Clock::time_point t) {
        std::lock_guard hold(lock);
        at[hash] = t;
        if (at.size() > 4096) {
            at.erase(at.begin());
        }
    }
    bool Find(std::size_t hash, Clock::time_point& t) {
        std::lock_guard hold(lock);
        const auto it = at.find(hash);
        if (it == at.end()) {
            return false;
        }
        t = it->second;
        return true;
    }
};

std::size_t HashOf(const char* data, qsizetype size) {
    return qHashBits(data, static_cast<std::size_t>(size));
}

// The viewers, on their own thread.
class Farm : public QObject {
  public:
    Farm(Arrivals& arrivals, QString url, QString origin, QString token)
        : arrivals_(arrivals),
          url_(std::move(url)),
          origin_(std::move(origin)),
          token_(std::move(token)) {}

    void Open(int n) {
        for (int i = 0; i < n; ++i) {
            auto* ws = new QWebSocket(origin_, QWebSocketProtocol::VersionLatest, this);
            const int index = i;
            connect(ws, &QWebSocket::connected, ws, [this, ws] {
                ws->sendTextMessage(QStringLiteral(R"({"t":"hello","token":"%1"})").arg(token_));
            });
            connect(ws, &QWebSocket::binaryMessageReceived, ws,
                    [this, ws, index](const QByteArray& m) {
                        const Clock::time_point now = Clock::now();
                        Clock::time_point sent;
                        if (measuring_.load() &&
                            arrivals_.Find(HashOf(m.constData() + 8, m.size() - 8), sent)) {
                            std::lock_guard hold(lock_);
                            latencies_.push_back(qv::bench::Ms(now - sent));
                            ++frames_[index];
                        }
                        ws->sendTextMessage(QStringLiteral(R"({"t":"ack"})"));
                    });
            ws->open(QUrl(url_));
            sockets_.push_back(ws);
        }
        frames_.assign(static_cast<std::size_t>(n), 0);
    }
    void CloseAll() {
        for (QWebSocket* ws : sockets_) {
            ws->abort();
            ws->deleteLater();
        }
        sockets_.clear();
    }
    void Measure(bool on) {
        std::lock_guard hold(lock_);
        if (on) {
            latencies_.clear();
            std::fill(frames_.begin(), frames_.end(), 0);
        }
        measuring_.store(on);
    }
    std::vector<double> Latencies() {
        std::lock_guard hold(lock_);
        return latencies_;
    }
    std::vector<int> Frames() {
        std::lock_guard hold(lock_);
        return frames_;
    }

  private:
    Arrivals& arrivals_;
    QString url_, origin_, token_;
    std::vector<QWebSocket*> sockets_;
    std::mutex lock_;
    std::vector<double> latencies_;
    std::vector<int> frames_;
    std::atomic<bool> measuring_{false};
};

// CPU seconds of this process's thread named `name`.
double ThreadCpu(const char* name) {
    const long tick = sysconf(_SC_CLK_TCK);
    for (const QString& tid : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs)) {
        std::ifstream comm(("/proc/self/task/" + tid + "/comm").toStdString());
        std::string n;
        std::getline(comm, n);
        if (n != name) {
            continue;
        }
        std::ifstream stat(("/proc/self/task/" + tid + "/stat").toStdString());
        std::string line;
        std::getline(stat, line);
        const std::string rest = line.substr(line.rfind(')') + 2);
        std::vector<std::string> f;
        std::string cur;
        for (const char c : rest) {
            if (c == ' ') {
                f.push_back(cur);
                cur.clear();
            } else {
                cur += c;
            }
        }
        // Fields from "state": utime is the 12th after it, stime the 13th.
        return static_cast<double>(std::stol(f[11]) + std::stol(f[12])) / static_cast<double>(tick);
    }
    return 0.0;
}

// A viewer that upgrades, sends its token and never reads again.
int StalledViewer(quint16 port, const QByteArray& token) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    int small = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    const QByteArray host = "127.0.0.1:" + QByteArray::number(port);
    const QByteArray req =
        "GET /ws HTTP/1.1\r\nHost: " + host +
        "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Version: "
        "13\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nOrigin: http://" +
        host + "\r\n\r\n";
    ::send(fd, req.constData(), static_cast<std::size_t>(req.size()), 0);
    QByteArray head;
    char c = 0;
    while (!head.endsWith("\r\n\r\n") && ::recv(fd, &c, 1, 0) == 1) {
        head.append(c);
    }
    const QByteArray hello = R"({"t":"hello","token":")" + token + "\"}";
    QByteArray frame;
    frame.append(static_cast<char>(0x81));
    frame.append(static_cast<char>(0x80 | hello.size()));
    const char key[4] = {1, 2, 3, 4};
    frame.append(key, 4);
    for (int i = 0; i < hello.size(); ++i) {
        frame.append(static_cast<char>(hello[i] ^ key[i % 4]));
    }
    ::send(fd, frame.constData(), static_cast<std::size_t>(frame.size()), 0);
    return fd;
}

void Pump(int ms) {
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(2, std::atoi(argv[1])) : 10;
    qv::sim::SimServer sim(800, 600);
    if (!sim.Start("127.0.0.1", 0)) {
        std::fprintf(stderr, "share_bench: the simulator does not start\n");
        return 1;
    }
    qv::share::ShareServer server;
    qv::share::ShareConfig config;
    config.addresses = {QHostAddress(QHostAddress::LocalHost)};
    config.port = 0;
    config.maxViewers = 64;
    QString error;
    if (!server.Start(config, error)) {
        std::fprintf(stderr, "share_bench: %s\n", error.toStdString().c_str());
        return 1;
    }
    Arrivals arrivals;
    std::atomic<int> pushed{0};
    qvctl::LiveSession::Options options;
    options.target.host = "127.0.0.1";
    options.target.port = sim.port();
    options.rate = qv::LiveRate::Fast;
    qvctl::LiveSession live(options);
    live.Start([&](std::span<const std::uint8_t> jpeg, Clock::time_point at) {
        const QByteArray bytes(reinterpret_cast<const char*>(jpeg.data()),
                               static_cast<qsizetype>(jpeg.size()));
        arrivals.Add(HashOf(bytes.constData(), bytes.size()), at);
        server.PushFrame(bytes, at);
        pushed.fetch_add(1);
    });
    Pump(2000);  // connected and streaming

    const QString link = server.ViewLink(QStringLiteral("127.0.0.1"));
    const QString token = link.section('#', 1);
    const QString origin = QStringLiteral("http://127.0.0.1:%1").arg(server.Port());
    const QString url = QStringLiteral("ws://127.0.0.1:%1/ws").arg(server.Port());

    std::printf("share_bench: qvsim at Fast, %d s a run, 800x600 screens\n", seconds);
    std::printf("%8s %12s %14s %12s %12s %18s\n", "viewers", "instrument", "per viewer",
                "added p50", "added p99", "share CPU/viewer-frame");
    for (const int n : {1, 10, 50}) {
        QThread thread;
        Farm farm(arrivals, url, origin, token);
        farm.moveToThread(&thread);
        thread.start();
        QMetaObject::invokeMethod(
            &farm, [&farm, n] { farm.Open(n); }, Qt::BlockingQueuedConnection);
        Pump(1500);
        farm.Measure(true);
        const int pushedBefore = pushed.load();
        const double cpuBefore = ThreadCpu("share");
        Pump(seconds * 1000);
        farm.Measure(false);
        const double cpu = ThreadCpu("share") - cpuBefore;
        const int frames = pushed.load() - pushedBefore;
        const std::vector<int> per = farm.Frames();
        const std::vector<double> lat = farm.Latencies();
        int minFrames = per.empty() ? 0 : *std::min_element(per.begin(), per.end());
        long total = 0;
        for (const int f : per) {
            total += f;
        }
        std::printf("%8d %9.1f f/s %8.1f f/s min %9.2f ms %9.2f ms %15.3f ms\n", n,
                    frames / double(seconds), minFrames / double(seconds),
                    qv::bench::Percentile(lat, 50), qv::bench::Percentile(lat, 99),
                    total > 0 ? cpu * 1000.0 / double(total) : 0.0);
        std::printf("%8s share thread %.1f %% of a core\n", "", 100.0 * cpu / seconds);
        QMetaObject::invokeMethod(
            &farm, [&farm] { farm.CloseAll(); }, Qt::BlockingQueuedConnection);
        thread.quit();
        thread.wait();
        Pump(500);
    }

    Pump(1000);
    const long base = qv::bench::RssKb();
    std::vector<int> stalled;
    for (int i = 0; i < 5; ++i) {
        stalled.push_back(StalledViewer(server.Port(), token.toLatin1()));
    }
    Pump(seconds * 1000);
    const long with = qv::bench::RssKb();
    std::printf(
        "memory: %ld KB streaming with no viewer, %ld KB with 5 stalled viewers after %d s"
        " (%+ld KB); viewers still counted: %d\n",
        base, with, seconds, with - base, server.Viewers());
    for (const int fd : stalled) {
        ::close(fd);
    }
    live.Stop();
    server.Stop();
    return 0;
}
