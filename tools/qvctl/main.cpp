// qvctl [--ipv6] HOST[:PORT] info | screenshot FILE.jpg | key TEXT | watch N
// qvctl usb [--all] | usb-rule VID:PID [--older]
// qvctl serve | export | record: run by qvctl-share and qvctl-media (Helper.h)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>
#include <vector>

#include "QvVersion.h"
#include "link/CDevComm.h"
#include "link/Files.h"
#include "link/Printable.h"
#include "platform/LibUsbBackend.h"
#include "platform/UsbDeviceList.h"
#include "tools/qvctl/Helper.h"
#include "tools/qvctl/Target.h"
#include "tools/qvctl/UsbSetup.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr const char* kUsage =
    "usage: qvctl [--ipv6] HOST[:PORT] info | screenshot FILE.jpg | key TEXT | watch N\n"
    "       qvctl serve HOST[:PORT] [--panel soft|hard] [--listen ADDR:PORT] [--control]\n"
    "             [--max-viewers N] [--rate normal|responsive|fast] [--cert FILE --key FILE]\n"
    "       qvctl usb [--all]\n"
    "       qvctl usb-rule VID:PID [--older]\n"
    "       qvctl export FOLDER OUT.mkv|OUT.mp4 [--force]\n"
    "       qvctl record TARGET OUT.mkv|OUT.mp4 [--seconds N] [--rate normal|responsive|fast]\n"
    "                    [--force] [--ipv6]\n";

void Usage() {
    std::fputs(kUsage, stderr);
    std::fputs("Try 'qvctl --help'.\n", stderr);
}

void Help() {
    std::fputs(kUsage, stdout);
    std::fputs(
        "\n"
        "The instrument link from the command line.\n"
        "\n"
        "  info                 print the instrument's model name\n"
        "  screenshot FILE.jpg  save the instrument's current screen\n"
        "  key TEXT             send one command text, e.g. KEYP:NUM5 or \"KEYP 120,200\"\n"
        "  watch N              fetch N screens: time and size of each, then min/median/p99\n"
        "  serve                share the live screen with browsers until SIGTERM; prints a\n"
        "                       view link (and with --control a control link); listens on\n"
        "                       127.0.0.1 and ::1 port 8066 (the next free one if taken)\n"
        "                       unless --listen says otherwise. The link is plain http\n"
        "                       unless --cert and --key are given. --panel hard offers the\n"
        "                       hard-key panel's keys (360C, HN7700 lines); soft is the default\n"
        "  usb                  list the USB devices that could be an instrument, whether you\n"
        "                       may open them and, if not, why; --all lists every device\n"
        "  usb-rule VID:PID     print the udev rule line for that device (ids as lsusb shows\n"
        "                       them); --older for an instrument of the older generation\n"
        "  export FOLDER OUT    write a recording folder (rec_...) to a video file: .mkv keeps\n"
        "                       the JPEG screens as they came, .mp4 is H.264 for any player;\n"
        "                       --force replaces an existing OUT\n"
        "  record TARGET OUT    record the instrument's screen into a video file until\n"
        "                       --seconds N have passed or the program is stopped (Ctrl+C,\n"
        "                       SIGTERM); a lost link is healed and the gap is a held frame\n"
        "\n"
        "  --ipv6               connect over IPv6\n"
        "  -h, --help           show this help\n"
        "  -v, --version        show the version\n"
        "\n"
        "HOST is an IPv4 address or name, or an IPv6 address (::1, fe80::1%eth0, and\n"
        "\"[::1]:PORT\" with a port); PORT defaults to 66. --ipv6 is needed only to reach a\n"
        "host name over IPv6.\n"
        "Exit status: 0 done, 1 the instrument failed (or, for usb, no device you may open),\n"
        "2 bad arguments. See qvctl(1).\n",
        stdout);
}

int Usb(const std::vector<std::string>& args) {
    const bool all = args.size() == 2 && args[1] == "--all";
    if (args.size() > 2 || (args.size() == 2 && !all)) {
        Usage();
        return kExitUsage;
    }
    std::vector<qv::UsbDeviceInfo> devices;
    if (!qv::ListUsbDevices(devices)) {
        std::fprintf(stderr, "qvctl: cannot list USB devices: udev does not answer\n");
        return kExitFailed;
    }
    qv::LibUsbBackend backend;
    const auto findings = qvctl::CheckUsbDevices(
        devices, qvctl::ReadClassRules(qvctl::SystemRuleDirs()), backend, all);
    std::fputs(qvctl::FormatUsbReport(findings, all).c_str(), stdout);
    return qvctl::UsbExitStatus(findings);
}

int UsbRule(const std::vector<std::string>& args) {
    const bool older = args.size() == 3 && args[2] == "--older";
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    if (args.size() < 2 || args.size() > 3 || (args.size() == 3 && !older)) {
        Usage();
        return kExitUsage;
    }
    if (!qvctl::ParseUsbId(args[1], vendor, product)) {
        std::fprintf(stderr, "qvctl: \"%s\" is not VID:PID (hex, as lsusb shows it: 1a2b:3c4d)\n",
                     args[1].c_str());
        return kExitUsage;
    }
    std::printf("%s\n", qvctl::UsbRuleLine(vendor, product, older).c_str());
    std::fprintf(
        stderr,
        "# add it:  qvctl usb-rule %s%s | sudo tee -a /etc/udev/rules.d/60-qvremote.rules\n"
        "# then:    sudo udevadm control --reload && sudo udevadm trigger "
        "--subsystem-match=usb\n",
        qvctl::UsbIdText(vendor, product).c_str(), older ? " --older" : "");
    return kExitOk;
}

// The whole answer, or its failure; the link ends it within its answer deadline whatever
// the instrument sends.
bool Fetch(qv::Link& link, std::uint8_t code, qv::Answer& answer) {
    static const qv::FileEntry kScreen =
        *qv::BuildFileEntry(qv::kScreenFileName, qv::kScreenFileSize);
    const auto request =
        code == qv::REQ_SCREEN ? qv::RequestFrame(code, kScreen) : qv::RequestFrame(code);
    return link.Exchange(request, answer) == 100;
}

int Fail(const char* what, const qv::Answer& answer) {
    std::fprintf(stderr, "qvctl: %s: %s\n", what, answer.error.c_str());
    return kExitFailed;
}

// Writes the file whole or not at all (a new file beside it, renamed over it) with the mode
// any tool gives a file: 0666 less the umask, and never more than an existing file had.
// 0 or an errno value.
int SaveScreenshot(const std::string& path, const std::uint8_t* data, std::size_t size) {
    struct stat st {};
    const bool exists = ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    return qv::ReplaceFile(path, data, size, exists ? (st.st_mode & 0666) : 0666);
}

int Watch(qv::Link& link, qv::Answer& answer, long count) {
    std::vector<double> times;
    times.reserve(static_cast<std::size_t>(count));
    for (long i = 0; i < count; ++i) {
        const auto start = Clock::now();
        if (!Fetch(link, qv::REQ_SCREEN, answer)) {
            return Fail("screen", answer);
        }
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        times.push_back(ms);
        std::printf("frame %ld: %.3f ms, %zu bytes\n", i + 1, ms, answer.length());
        std::fflush(stdout);
    }
    std::sort(times.begin(), times.end());
    auto at = [&](double q) {
        const auto idx =
            static_cast<std::size_t>(std::lround(q * static_cast<double>(times.size() - 1)));
        return times[std::min(idx, times.size() - 1)];
    };
    std::printf("frames %zu: min %.3f ms, median %.3f ms, p99 %.3f ms\n", times.size(),
                times.front(), at(0.5), at(0.99));
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && (args.front() == "-h" || args.front() == "--help")) {
        Help();
        return kExitOk;
    }
    if (!args.empty() && (args.front() == "-v" || args.front() == "--version")) {
        std::printf("qvctl %s\n", qv::kVersion);
        return kExitOk;
    }
    if (!args.empty() && args.front() == "usb") {
        return Usb(args);
    }
    if (!args.empty() && args.front() == "usb-rule") {
        return UsbRule(args);
    }
    if (const char* helper = args.empty() ? nullptr : qvctl::HelperFor(args.front())) {
        return qvctl::ExecHelper(helper, argv);
    }
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
    qv::Answer answer;
    if (verb == "info") {
        if (!Fetch(dev.link(), qv::REQ_EQINFO, answer)) {
            rc = Fail("equipment information", answer);
        } else {
            // The instrument's text, cut at its zero, with nothing a terminal would act on.
            const auto* name = reinterpret_cast<const char*>(answer.data());
            std::printf(
                "%s\n",
                qv::Printable(std::string_view(name, strnlen(name, answer.length()))).c_str());
        }
    } else if (verb == "screenshot") {
        if (!Fetch(dev.link(), qv::REQ_SCREEN, answer)) {
            rc = Fail("screen", answer);
        } else if (const int error = SaveScreenshot(args[2], answer.data(), answer.length());
                   error != 0) {
            std::fprintf(stderr, "qvctl: cannot write %s: %s\n", args[2].c_str(),
                         std::system_category().message(error).c_str());
            rc = kExitFailed;
        } else {
            std::printf("%s: %zu bytes\n", args[2].c_str(), answer.length());
        }
    } else if (verb == "key") {
        if (dev.link().Send(qv::RequestFrame(qv::REQ_CMD, *qv::BuildTextPayload(args[2] + "\n"))) !=
            1) {
            std::fprintf(stderr, "qvctl: the command could not be sent\n");
            rc = kExitFailed;
        }
    } else {
        rc = Watch(dev.link(), answer, watchCount);
    }
    dev.Disconnect();
    return rc;
}
