// Screen exchange over loopback with the simulator, beside a raw loopback transfer of the
// same bytes in the same run; then the peak memory of a qvctl watch.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchStats.h"
#include "link/CDevComm.h"
#include "sim/SimServer.h"

namespace {

using qv::bench::Clock;
using qv::bench::Ms;
using qv::bench::Percentile;

constexpr int kExchanges = 200;

// A raw peer: for each request byte, send the whole buffer back.
class RawPeer {
  public:
    explicit RawPeer(std::size_t size) : data_(size, 0x33) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(listener_, 1);
        socklen_t len = sizeof a;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] {
            const int c = ::accept(listener_, nullptr, nullptr);
            const int on = 1;
            ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            char b = 0;
            while (::recv(c, &b, 1, 0) == 1) {
                std::size_t sent = 0;
                while (sent < data_.size()) {
                    const ssize_t n = ::send(c, data_.data() + sent, data_.size() - sent, 0);
                    if (n <= 0) {
                        break;
                    }
                    sent += static_cast<std::size_t>(n);
                }
            }
            ::close(c);
        });
    }
    ~RawPeer() {
        thread_.join();
        ::close(listener_);
    }
    std::uint16_t port() const { return port_; }

  private:
    std::vector<std::uint8_t> data_;
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::thread thread_;
};

std::vector<double> RawExchanges(std::size_t size) {
    RawPeer peer(size);
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(peer.port());
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    std::vector<std::uint8_t> in(size);
    std::vector<double> times;
    for (int i = 0; i < kExchanges; ++i) {
        const auto t0 = Clock::now();
        const char b = 1;
        ::send(fd, &b, 1, 0);
        std::size_t got = 0;
        while (got < size) {
            const ssize_t n = ::recv(fd, in.data() + got, size - got, 0);
            if (n <= 0) {
                break;
            }
            got += static_cast<std::size_t>(n);
        }
        times.push_back(Ms(Clock::now() - t0));
    }
    ::close(fd);
    return times;
}

std::vector<double> EngineExchanges(qv::sim::SimServer& server, std::size_t size) {
    std::mt19937 rng(static_cast<unsigned>(size));
    std::vector<std::uint8_t> screen(size);
    for (auto& b : screen) {
        b = static_cast<std::uint8_t>(rng());
    }
    server.instrument().SetScreenOverride(screen);
    qv::CDevComm dev;
    dev.Init();
    dev.SetAddress("127.0.0.1");
    dev.SetPort(server.port());
    std::vector<double> times;
    if (!dev.ConnectTcp()) {
        std::fprintf(stderr, "exchange_bench: cannot connect\n");
        return times;
    }
    for (int i = 0; i < kExchanges; ++i) {
        const auto t0 = Clock::now();
        dev.RequestFile(qv::kCmdRequest, qv::REQ_SCREEN, std::string(qv::kScreenFileName),
                        qv::kScreenFileSize);
        int p = 0;
        while ((p = dev.Poll()) >= 0 && p < 100) {
        }
        if (p < 0 || static_cast<std::size_t>(dev.GetDataLength()) != size) {
            std::fprintf(stderr, "exchange_bench: exchange failed: %s\n", dev.ErrorText().c_str());
            break;
        }
        times.push_back(Ms(Clock::now() - t0));
    }
    dev.Disconnect();
    return times;
}

void WatchRss(const std::string& qvctl, std::uint16_t port) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int devnull = ::open("/dev/null", O_WRONLY);
        ::dup2(devnull, STDOUT_FILENO);
        const std::string target = "127.0.0.1:" + std::to_string(port);
        ::execl(qvctl.c_str(), qvctl.c_str(), target.c_str(), "watch", "200",
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    rusage usage{};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    std::printf("qvctl watch 200 (rendered 800x600 screens): exit %d, peak RSS %ld KB\n",
                WIFEXITED(status) ? WEXITSTATUS(status) : -1, usage.ru_maxrss);
}

}  // namespace

int main(int argc, char** argv) {
    qv::sim::SimServer server;
    if (!server.Start("127.0.0.1", 0)) {
        std::fprintf(stderr, "exchange_bench: %s\n", server.error().c_str());
        return 1;
    }
    std::printf("%-8s %10s %10s %10s %10s %10s  %s\n", "screen", "raw p50", "raw p99", "engine p50",
                "engine p99", "goal p50", "(ms, 200 exchanges each)");
    for (const std::size_t size : {50000u, 150000u, 400000u}) {
        const auto raw = RawExchanges(size);
        const auto engine = EngineExchanges(server, size);
        const double rawP50 = Percentile(raw, 50);
        const double goal = 1.5 * rawP50 + 1.0;
        const double engineP50 = Percentile(engine, 50);
        std::printf("%6zuKB %10.3f %10.3f %10.3f %10.3f %10.3f  %s\n", size / 1000, rawP50,
                    Percentile(raw, 99), engineP50, Percentile(engine, 99), goal,
                    engineP50 <= goal ? "within goal" : "OVER goal");
    }
    server.instrument().SetScreenOverride(std::nullopt);
    if (argc > 1) {
        WatchRss(argv[1], server.port());
    }
    server.Stop();
    return 0;
}
