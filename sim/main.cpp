// qvsim: a simulated instrument on the network, for tests, benchmarks and the demo.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "link/CommandSet.h"
#include "sim/SimServer.h"

namespace {

volatile sig_atomic_t gStop = 0;

void OnSignal(int) {
    gStop = 1;
}

void Usage() {
    std::fprintf(stderr,
                 "usage: qvsim [--bind ADDR] [--port N] [--model NAME] [--size 800x480|800x600]\n"
                 "             [--split N] [--split-gap US] [--delay MS] [--garbage]\n"
                 "             [--bad-checksum N] [--skip-index] [--oversized] [--over-limit]\n"
                 "             [--silent] [--close-after N] [--first-index-one] [--quiet]\n");
}

bool ParseInt(const char* text, int low, int high, int& out) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < low || v > high) {
        return false;
    }
    out = static_cast<int>(v);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string bind = "::";
    bool bindGiven = false;
    int port = 66;
    std::string model = "QV392B";
    int width = 800;
    int height = 600;
    bool quiet = false;
    qv::sim::SimFaults faults;

    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "qvsim: %s needs a value\n", argv[i]);
                std::exit(2);
            }
            return argv[++i];
        };
        auto number = [&](int low, int high) {
            const char* name = argv[i];
            const char* text = value();
            int v = 0;
            if (!ParseInt(text, low, high, v)) {
                std::fprintf(stderr, "qvsim: %s wants a number from %d to %d, not \"%s\"\n", name,
                             low, high, text);
                std::exit(2);
            }
            return v;
        };
        if (arg == "--bind") {
            bind = value();
            bindGiven = true;
        } else if (arg == "--port") {
            port = number(0, 65535);
        } else if (arg == "--model") {
            model = value();
            if (model.size() > 200) {
                std::fprintf(stderr, "qvsim: model name too long\n");
                return 2;
            }
        } else if (arg == "--size") {
            const std::string_view size = value();
            if (size == "800x480") {
                height = 480;
            } else if (size == "800x600") {
                height = 600;
            } else {
                std::fprintf(stderr, "qvsim: --size is 800x480 or 800x600\n");
                return 2;
            }
        } else if (arg == "--split") {
            faults.splitWrites = number(1, 1 << 20);
        } else if (arg == "--split-gap") {
            faults.splitGapUs = number(0, 10000000);
        } else if (arg == "--delay") {
            faults.frameDelayMs = number(0, 600000);
        } else if (arg == "--garbage") {
            faults.garbageBeforeFrame = true;
        } else if (arg == "--bad-checksum") {
            faults.badChecksumEvery = number(1, 1 << 30);
        } else if (arg == "--skip-index") {
            faults.skipIndex = true;
        } else if (arg == "--oversized") {
            faults.oversizedFrame = true;
        } else if (arg == "--over-limit") {
            faults.answerOverLimit = true;
        } else if (arg == "--silent") {
            faults.silent = true;
        } else if (arg == "--close-after") {
            faults.closeAfterFrames = number(1, 1 << 30);
        } else if (arg == "--first-index-one") {
            faults.firstIndexOne = true;
        } else if (arg == "--quiet") {
            quiet = true;
        } else if (arg == "-h" || arg == "--help") {
            Usage();
            return 0;
        } else {
            std::fprintf(stderr, "qvsim: unknown argument \"%s\"\n", argv[i]);
            Usage();
            return 2;
        }
    }

    qv::sim::SimServer server(width, height);
    server.instrument().SetModel(model);
    server.instrument().SetFaults(faults);
    if (!quiet) {
        server.onRequest = [](std::uint8_t code) {
            std::printf("qvsim: request %d\n", code);
            std::fflush(stdout);
        };
    }
    server.onCommand = [](const std::string& text) {
        std::printf("qvsim: command %s\n", text.c_str());
        std::fflush(stdout);
    };

    auto port16 = static_cast<std::uint16_t>(port);
    bool started = server.Start(bind, port16);
    if (!started && !bindGiven) {
        // No IPv6 on this machine: serve IPv4 alone.
        bind = "0.0.0.0";
        started = server.Start(bind, port16);
    }
    if (!started) {
        std::fprintf(stderr, "qvsim: %s\n", server.error().c_str());
        return 1;
    }

    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::printf("qvsim: listening on %s port %u (model %s, %dx%d)\n", bind.c_str(),
                static_cast<unsigned>(server.port()), model.c_str(), width, height);
    std::fflush(stdout);
    while (!gStop) {
        pause();
    }
    server.Stop();
    std::printf("qvsim: stopped\n");
    return 0;
}
