// qvctl [--ipv6] HOST[:PORT] info | screenshot FILE.jpg | key TEXT | watch N
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "link/CDevComm.h"
#include "tools/qvctl/Target.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

void Usage() {
    std::fprintf(stderr,
                 "usage: qvctl [--ipv6] HOST[:PORT] info | screenshot FILE.jpg | key TEXT | "
                 "watch N\n"
                 "  HOST is an IPv4 address or name, or an IPv6 address (::1, fe80::1%%eth0, "
                 "\"[::1]:PORT\" with a port); PORT defaults to 66\n");
}

// The whole answer, or its failure; the engine ends it within its answer deadline whatever
// the instrument sends.
bool Await(qv::CDevComm& dev) {
    return dev.ReceiveAnswer(nullptr) == 100;
}

bool FetchScreen(qv::CDevComm& dev) {
    return dev.RequestScreen() == 1 && Await(dev);
}

int Fail(const char* what, const qv::CDevComm& dev) {
    std::fprintf(stderr, "qvctl: %s: %s\n", what, dev.ErrorText().c_str());
    return kExitFailed;
}

// Writes the file whole or not at all: a new file beside it, then renamed over it.
bool WriteFileAtomically(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::string temp = path + ".XXXXXX";
    std::vector<char> name(temp.begin(), temp.end());
    name.push_back('\0');
    const int fd = mkstemp(name.data());
    if (fd < 0) {
        return false;
    }
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = write(fd, data + done, size - done);
        if (n <= 0) {
            close(fd);
            unlink(name.data());
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    fchmod(fd, 0644);
    if (close(fd) != 0 || rename(name.data(), path.c_str()) != 0) {
        unlink(name.data());
        return false;
    }
    return true;
}

int Watch(qv::CDevComm& dev, long count) {
    std::vector<double> times;
    times.reserve(static_cast<std::size_t>(count));
    for (long i = 0; i < count; ++i) {
        const auto start = Clock::now();
        if (!FetchScreen(dev)) {
            return Fail("screen", dev);
        }
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        times.push_back(ms);
        std::printf("frame %ld: %.3f ms, %d bytes\n", i + 1, ms, dev.GetDataLength());
        std::fflush(stdout);
    }
    std::sort(times.begin(), times.end());
    auto at = [&](double q) {
        const auto idx = static_cast<std::size_t>(q * static_cast<double>(times.size() - 1) + 0.5);
        return times[std::min(idx, times.size() - 1)];
    };
    std::printf("frames %zu: min %.3f ms, median %.3f ms, p99 %.3f ms\n", times.size(),
                times.front(), at(0.5), at(0.99));
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    bool ipv6 = false;
    if (!args.empty() && args.front() == "--ipv6") {
        ipv6 = true;
        args.erase(args.begin());
    }
    if (args.size() < 2) {
        Usage();
        return kExitUsage;
    }
    qvctl::Target target;
    if (!qvctl::ParseTarget(args[0], target)) {
        std::fprintf(stderr, "qvctl: bad address \"%s\"\n", args[0].c_str());
        return kExitUsage;
    }
    const std::string& verb = args[1];
    const bool needsArg = verb == "screenshot" || verb == "key" || verb == "watch";
    if ((verb != "info" && !needsArg) || (needsArg && args.size() != 3) ||
        (!needsArg && args.size() != 2)) {
        Usage();
        return kExitUsage;
    }
    long watchCount = 0;
    if (verb == "watch") {
        char* end = nullptr;
        watchCount = std::strtol(args[2].c_str(), &end, 10);
        if (*end != '\0' || watchCount < 1 || watchCount > 1000000) {
            std::fprintf(stderr, "qvctl: watch needs a frame count from 1 to 1000000\n");
            return kExitUsage;
        }
    }
    if (verb == "key" && (args[2].empty() || args[2].size() > qv::kCommandTextMax)) {
        std::fprintf(stderr, "qvctl: a key command holds 1 to %zu characters\n",
                     qv::kCommandTextMax);
        return kExitUsage;
    }

    qv::CDevComm dev;
    dev.Init(nullptr);
    dev.SetAddress(target.host);
    dev.SetPort(target.port);
    // An IPv6 literal needs no --ipv6; the flag still sends a name through the IPv6 connect.
    ipv6 = ipv6 || target.ipv6;
    if ((ipv6 ? dev.ConnectTcp6() : dev.ConnectTcp()) != 1) {
        std::fprintf(stderr, "qvctl: cannot connect to %s port %u\n", target.host.c_str(),
                     target.port);
        return kExitFailed;
    }

    int rc = kExitOk;
    if (verb == "info") {
        if (dev.RequestEquipment(false) != 1 || !Await(dev)) {
            rc = Fail("equipment information", dev);
        } else {
            std::printf("%s\n", reinterpret_cast<const char*>(dev.GetData()));
        }
    } else if (verb == "screenshot") {
        if (!FetchScreen(dev)) {
            rc = Fail("screen", dev);
        } else if (!WriteFileAtomically(args[2], dev.GetData(),
                                        static_cast<std::size_t>(dev.GetDataLength()))) {
            std::fprintf(stderr, "qvctl: cannot write %s: %s\n", args[2].c_str(),
                         std::strerror(errno));
            rc = kExitFailed;
        } else {
            std::printf("%s: %d bytes\n", args[2].c_str(), dev.GetDataLength());
        }
    } else if (verb == "key") {
        if (dev.SendCommand(args[2] + "\n") != 1) {
            std::fprintf(stderr, "qvctl: the command could not be sent\n");
            rc = kExitFailed;
        }
    } else {
        rc = Watch(dev, watchCount);
    }
    dev.Disconnect();
    return rc;
}
