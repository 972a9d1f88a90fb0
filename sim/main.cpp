// qvsim: a simulated instrument on the network, for tests, benchmarks and the demo.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "QvVersion.h"
#include "link/CommandSet.h"
#include "link/ModelTable.h"
#include "link/Printable.h"
#include "sim/SimServer.h"

namespace {

volatile sig_atomic_t gStop = 0;

void OnSignal(int) {
    gStop = 1;
}

constexpr const char* kUsage =
    "usage: qvsim [--bind ADDR] [--port N] [--model NAME] [--size 800x480|800x600]\n"
    "             [--split N] [--split-gap US] [--delay MS] [--garbage]\n"
    "             [--bad-checksum N] [--skip-index] [--oversized] [--over-limit]\n"
    "             [--silent] [--close-after N] [--first-index-one] [--quiet]\n";

void Usage() {
    std::fputs(kUsage, stderr);
    std::fputs("Try 'qvsim --help'.\n", stderr);
}

// Names wrapped into lines of at most 78 columns under an indent.
void PrintNames(const std::vector<std::string_view>& names) {
    std::string line = "   ";
    for (const std::string_view name : names) {
        if (line.size() + 1 + name.size() > 78) {
            std::printf("%s\n", line.c_str());
            line = "   ";
        }
        line += " ";
        line += name;
    }
    std::printf("%s\n", line.c_str());
}

void Help() {
    std::fputs(kUsage, stdout);
    std::fputs(
        "\n"
        "A simulated instrument on the network: answers QVRemote and qvctl with its model\n"
        "name, a live analyser screen as JPEG, and the effect of the key commands it gets.\n"
        "\n"
        "  --bind ADDR        listen on ADDR: 0.0.0.0 or :: opens it to the network\n"
        "                     (default: 127.0.0.1 and ::1, this machine alone)\n"
        "  --port N           listen on port N (default 66; 0 takes a free port)\n"
        "  --model NAME       the model name it reports (default QV392B)\n"
        "  --size WxH         its screen: 800x600 (default, soft-key line) or 800x480\n"
        "                     (hard-key line)\n"
        "  --quiet            do not print each request code\n"
        "Faults, to test a client against a bad instrument:\n"
        "  --split N          write every frame in pieces of N bytes\n"
        "  --split-gap US     pause US microseconds between the pieces\n"
        "  --delay MS         pause MS milliseconds before every answer frame\n"
        "  --garbage          stray bytes before each answer\n"
        "  --bad-checksum N   every Nth answer frame has a wrong checksum\n"
        "  --skip-index       answers of three or more frames skip one frame number\n"
        "  --oversized        a screen frame with a 5,000-byte payload\n"
        "  --over-limit       a screen answer larger than 400,000 bytes\n"
        "  --silent           read requests, never answer\n"
        "  --close-after N    drop the connection after N answer frames\n"
        "  --first-index-one  the first frame of an answer is numbered 1\n"
        "  -h, --help         show this help\n"
        "  -v, --version      show the version\n"
        "\n"
        "Model names the soft-key panel knows (any other name is reported as given and\n"
        "treated as an unknown model):\n",
        stdout);
    std::vector<std::string_view> touch;
    std::vector<std::string_view> other;
    for (const qv::KnownModel& m : qv::KnownModels()) {
        (m.kind == qv::kModelKindTouch ? touch : other).push_back(m.name);
    }
    std::printf("  with a touch screen (clicks on the screen picture are sent as touches):\n");
    PrintNames(touch);
    std::printf("  without:\n");
    PrintNames(other);
    std::fputs(
        "For the hard-key panel (360C and HN7700 Series) use --size 800x480, for example\n"
        "--model QV364C. Exit status: 0 stopped by a signal, 1 cannot listen, 2 bad\n"
        "arguments. See qvsim(1).\n",
        stdout);
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
    std::string bind;  // the loopback addresses
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
                std::exit(2);  // NOLINT(concurrency-mt-unsafe): before any thread
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
                std::exit(2);  // NOLINT(concurrency-mt-unsafe): before any thread
            }
            return v;
        };
        if (arg == "--bind") {
            bind = value();
            if (bind.empty()) {
                std::fprintf(stderr, "qvsim: --bind needs an address\n");
                return 2;
            }
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
            Help();
            return 0;
        } else if (arg == "-v" || arg == "--version") {
            std::printf("qvsim %s\n", qv::kVersion);
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
        // The client's text: printed with nothing a terminal would act on.
        std::printf("qvsim: command %s\n", qv::Printable(text).c_str());
        std::fflush(stdout);
    };

    if (!server.Start(bind, static_cast<std::uint16_t>(port))) {
        std::fprintf(stderr, "qvsim: %s\n", server.error().c_str());
        return 1;
    }

    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::printf("qvsim: listening on %s port %u (model %s, %dx%d)\n", server.listening().c_str(),
                static_cast<unsigned>(server.port()), qv::Printable(model).c_str(), width, height);
    std::fflush(stdout);
    while (!gStop) {
        pause();
    }
    server.Stop();
    std::printf("qvsim: stopped\n");
    return 0;
}
