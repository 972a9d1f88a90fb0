// The browser share under load: a live session against qvsim (a process of its own) at the
// Fast rate, its frames served to 1, 10 and 50 viewers. The viewers run in a second process,
// as browsers would (this program again, with --viewers), on its one thread, acking each
// frame as the page does. Prints the frames each viewer gets per second, the latency the share
// adds (frame received by the session to frame received by the viewer: both processes read
// the same monotonic clock), the share thread's CPU per viewer-frame, this process's CPU, and
// the memory with 5 viewers that stop reading.
//
//   share_bench [--seconds N] [--runs N] [--qvsim PATH]
//   share_bench --viewers N URL ORIGIN TOKEN WARMUP_MS MEASURE_MS     (the viewers' side)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QProcess>
#include <QSignalSpy>
#include <QTimer>
#include <QWebSocket>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "bench/BenchStats.h"
#include "bench/QvsimProcess.h"
#include "share/ShareProtocol.h"
#include "share/ShareServer.h"
#include "tests/share/ClientFrame.h"
#include "tools/qvctl/LiveSession.h"

namespace {

using qv::bench::Clock;
using namespace std::chrono_literals;

// The same in both processes: frames are told apart by their bytes.
std::size_t HashOf(const char* data, qsizetype size) {
    return std::hash<std::string_view>{}(std::string_view(data, static_cast<std::size_t>(size)));
}

long long Nanos(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

// The event loop, asleep between events: a loop that spins would take the CPU it measures.
void Pump(std::chrono::milliseconds span) {
    QEventLoop loop;
    QTimer::singleShot(span, &loop, &QEventLoop::quit);
    loop.exec();
}

template <class Pred>
bool PumpUntil(Pred done, std::chrono::milliseconds deadline) {
    const Clock::time_point end = Clock::now() + deadline;
    QTimer tick;
    tick.start(20);
    while (!done()) {
        if (Clock::now() >= end) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

double ProcessCpu() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The viewers' process. Prints "measuring" when the measured span starts, "done" when it ends,
// then "frames I COUNT" for each viewer and "at HASH NANOS" for each frame received in it.
int RunViewers(int n, const QString& url, const QString& origin, const QString& token, int warmupMs,
               int measureMs) {
    std::vector<std::unique_ptr<QWebSocket>> sockets;
    std::vector<int> frames(static_cast<std::size_t>(n), 0);
    std::vector<std::pair<std::size_t, long long>> arrivals;
    arrivals.reserve(static_cast<std::size_t>(n) * 40 * static_cast<std::size_t>(measureMs) / 1000);
    bool measuring = false;
    for (int i = 0; i < n; ++i) {
        sockets.push_back(std::make_unique<QWebSocket>(origin));
        QWebSocket* ws = sockets.back().get();
        QObject::connect(ws, &QWebSocket::connected, ws, [ws, token] {
            ws->sendTextMessage(QStringLiteral(R"({"t":"hello","token":"%1"})").arg(token));
        });
        QObject::connect(ws, &QWebSocket::binaryMessageReceived, ws,
                         [&, ws, i](const QByteArray& m) {
                             const Clock::time_point now = Clock::now();
                             if (measuring && m.size() > qv::share::kFrameHead) {
                                 arrivals.emplace_back(HashOf(m.constData() + qv::share::kFrameHead,
                                                              m.size() - qv::share::kFrameHead),
                                                       Nanos(now));
                                 ++frames[static_cast<std::size_t>(i)];
                             }
                             ws->sendTextMessage(QStringLiteral(R"({"t":"ack"})"));
                         });
        ws->open(QUrl(url));
    }
    Pump(std::chrono::milliseconds(warmupMs));
    std::printf("measuring\n");
    std::fflush(stdout);
    const double cpuBefore = ProcessCpu();
    measuring = true;
    Pump(std::chrono::milliseconds(measureMs));
    measuring = false;
    std::printf("done\n");
    std::printf("cpu %.3f\n", ProcessCpu() - cpuBefore);
    for (int i = 0; i < n; ++i) {
        std::printf("frames %d %d\n", i, frames[static_cast<std::size_t>(i)]);
    }
    for (const auto& [hash, at] : arrivals) {
        std::printf("at %zu %lld\n", hash, at);
    }
    std::printf("end\n");
    std::fflush(stdout);
    for (auto& ws : sockets) {
        ws->abort();
    }
    return 0;
}

// When each frame (by its bytes) reached the session.
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
    const QByteArray frame = qv::share::test::HelloFrame(token);
    ::send(fd, frame.constData(), static_cast<std::size_t>(frame.size()), 0);
    return fd;
}

struct Run {
    double instrumentFps = 0;
    double minPerViewer = 0;
    double meanPerViewer = 0;
    std::vector<double> latencies;
    long unmatched = 0;
    double shareCpu = 0;    // seconds
    double processCpu = 0;  // seconds
    double viewersCpu = 0;  // seconds, the viewers' process
    double seconds = 0;
    long viewerFrames = 0;
    bool ok = false;
};

// One run of n viewers in a process of their own.
Run MeasureViewers(int n, int seconds, Arrivals& arrivals, const std::atomic<int>& pushed,
                   const QString& url, const QString& origin, const QString& token) {
    Run run;
    QProcess viewers;
    viewers.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    viewers.start(QCoreApplication::applicationFilePath(),
                  {QStringLiteral("--viewers"), QString::number(n), url, origin, token,
                   QStringLiteral("1500"), QString::number(seconds * 1000)});
    std::vector<QByteArray> lines;
    const auto readLines = [&] {
        while (viewers.canReadLine()) {
            lines.push_back(viewers.readLine().trimmed());
        }
        return !lines.empty();
    };
    if (!PumpUntil(readLines, 20s) || lines.back() != "measuring") {
        std::fprintf(stderr, "share_bench: the viewers did not start\n");
        viewers.kill();
        viewers.waitForFinished(2000);
        return run;
    }
    const int pushedBefore = pushed.load();
    const double shareBefore = ThreadCpu("share");
    const double processBefore = ProcessCpu();
    const Clock::time_point start = Clock::now();
    const auto saw = [&](const char* what) {
        readLines();
        return std::find(lines.begin(), lines.end(), QByteArray(what)) != lines.end();
    };
    if (!PumpUntil([&] { return saw("done"); }, std::chrono::seconds(seconds + 20))) {
        std::fprintf(stderr, "share_bench: the viewers did not finish\n");
        viewers.kill();
        viewers.waitForFinished(2000);
        return run;
    }
    run.seconds = qv::bench::Ms(Clock::now() - start) / 1000.0;
    run.shareCpu = ThreadCpu("share") - shareBefore;
    run.processCpu = ProcessCpu() - processBefore;
    run.instrumentFps = (pushed.load() - pushedBefore) / run.seconds;
    PumpUntil([&] { return saw("end"); }, 20s);
    viewers.waitForFinished(5000);

    std::vector<int> per;
    for (const QByteArray& line : lines) {
        const QList<QByteArray> f = line.split(' ');
        if (f.size() == 2 && f[0] == "cpu") {
            run.viewersCpu = f[1].toDouble();
        } else if (f.size() == 3 && f[0] == "frames") {
            per.push_back(f[2].toInt());
        } else if (f.size() == 3 && f[0] == "at") {
            Clock::time_point sent;
            if (arrivals.Find(f[1].toULongLong(), sent)) {
                run.latencies.push_back(static_cast<double>(f[2].toLongLong() - Nanos(sent)) / 1e6);
            } else {
                ++run.unmatched;
            }
        }
    }
    if (per.size() != static_cast<std::size_t>(n)) {
        std::fprintf(stderr, "share_bench: %zu of %d viewers reported\n", per.size(), n);
        return run;
    }
    for (const int f : per) {
        run.viewerFrames += f;
    }
    run.minPerViewer = *std::min_element(per.begin(), per.end()) / run.seconds;
    run.meanPerViewer = static_cast<double>(run.viewerFrames) / n / run.seconds;
    run.ok = true;
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc == 8 && std::strcmp(argv[1], "--viewers") == 0) {
        return RunViewers(std::atoi(argv[2]), QString::fromLocal8Bit(argv[3]),
                          QString::fromLocal8Bit(argv[4]), QString::fromLocal8Bit(argv[5]),
                          std::atoi(argv[6]), std::atoi(argv[7]));
    }
    int seconds = 10;
    int runs = 3;  // of the 50-viewer case
    QString qvsimPath;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--seconds") == 0) {
            seconds = std::max(2, std::atoi(argv[i + 1]));
        } else if (std::strcmp(argv[i], "--runs") == 0) {
            runs = std::max(1, std::atoi(argv[i + 1]));
        } else if (std::strcmp(argv[i], "--qvsim") == 0) {
            qvsimPath = QString::fromLocal8Bit(argv[i + 1]);
        }
    }

    QProcess sim;
    const quint16 simPort = qv::bench::StartQvsim(
        sim, qvsimPath, {QStringLiteral("--size"), QStringLiteral("800x600")}, "share_bench");
    if (simPort == 0) {
        return 1;
    }
    QObject::connect(&sim, &QProcess::readyReadStandardOutput,
                     [&] { sim.readAllStandardOutput(); });

    qv::share::ShareServer server;
    qv::share::ShareConfig config;
    config.addresses = {QHostAddress(QHostAddress::LocalHost)};
    config.port = 0;
    config.maxViewers = 64;
    QSignalSpy started(&server, &qv::share::ShareServer::started);
    QString error;
    if (!server.Start(config, error) || !started.wait(10000) || !server.Listening()) {
        std::fprintf(stderr, "share_bench: the share does not listen: %s\n",
                     error.toStdString().c_str());
        return 1;
    }
    Arrivals arrivals;
    std::atomic<int> pushed{0};
    std::atomic<long long> pushedBytes{0};
    qvctl::LiveSession::Options options;
    options.target.host = "127.0.0.1";
    options.target.port = simPort;
    options.rate = qv::LiveRate::Fast;
    qvctl::LiveSession live(options);
    live.Start([&](std::span<const std::uint8_t> jpeg, Clock::time_point at) {
        const QByteArray bytes(reinterpret_cast<const char*>(jpeg.data()),
                               static_cast<qsizetype>(jpeg.size()));
        arrivals.Add(HashOf(bytes.constData(), bytes.size()), at);
        server.PushFrame(bytes, at);
        pushed.fetch_add(1);
        pushedBytes.fetch_add(bytes.size());
    });
    Pump(2000ms);  // connected and streaming

    const QString link = server.ViewLink(QStringLiteral("127.0.0.1"));
    const QString token = link.section('#', 1);
    const QString origin = QStringLiteral("http://127.0.0.1:%1").arg(server.Port());
    const QString url = QStringLiteral("ws://127.0.0.1:%1/ws").arg(server.Port());

    std::printf(
        "share_bench: qvsim at Fast, %d s a run, 800x600 screens of %lld bytes on "
        "average, viewers in another process\n",
        seconds, pushed.load() > 0 ? pushedBytes.load() / pushed.load() : 0LL);
    std::printf("%8s %14s %22s %11s %11s %13s %9s %9s %9s\n", "viewers", "instrument",
                "per viewer (min/mean)", "added p50", "added p99", "CPU/v-frame", "share",
                "process", "viewers");
    std::vector<int> cases = {1, 10};
    for (int r = 0; r < runs; ++r) {
        cases.push_back(50);
    }
    for (const int n : cases) {
        const Run run = MeasureViewers(n, seconds, arrivals, pushed, url, origin, token);
        if (!run.ok) {
            return 1;
        }
        std::printf(
            "%8d %10.1f f/s %9.1f /%5.1f f/s %8.2f ms %8.2f ms %10.3f ms %7.1f %% %7.1f %%"
            " %7.1f %%%s\n",
            n, run.instrumentFps, run.minPerViewer, run.meanPerViewer,
            qv::bench::Percentile(run.latencies, 50), qv::bench::Percentile(run.latencies, 99),
            run.viewerFrames > 0 ? run.shareCpu * 1000.0 / double(run.viewerFrames) : 0.0,
            100.0 * run.shareCpu / run.seconds, 100.0 * run.processCpu / run.seconds,
            100.0 * run.viewersCpu / run.seconds,
            run.unmatched > 0
                ? qPrintable(QStringLiteral(" (%1 frames not matched)").arg(run.unmatched))
                : "");
        std::fflush(stdout);
        PumpUntil([&] { return server.Viewers() == 0; }, 5s);
    }

    Pump(1000ms);
    const long base = qv::bench::RssKb();
    std::vector<int> stalled;
    stalled.reserve(5);
    for (int i = 0; i < 5; ++i) {
        stalled.push_back(StalledViewer(server.Port(), token.toLatin1()));
    }
    Pump(std::chrono::seconds(seconds));
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
    sim.terminate();
    sim.waitForFinished(3000);
    return 0;
}
