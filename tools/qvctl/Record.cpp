#include <QCoreApplication>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "media/Exporter.h"
#include "media/LiveRecorder.h"
#include "tools/qvctl/ExitStatus.h"
#include "tools/qvctl/Export.h"
#include "tools/qvctl/LiveSession.h"
#include "tools/qvctl/Progress.h"

namespace qvctl {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr long kMaxSeconds = 7L * 24 * 3600;

int Usage(const std::string& why) {
    std::fprintf(stderr,
                 "qvctl: %s\nusage: qvctl record TARGET OUT.mkv|OUT.mp4 [--seconds N] "
                 "[--rate normal|responsive|fast] [--force] [--ipv6]\n",
                 why.c_str());
    return kExitUsage;
}

struct RecordArgs {
    LiveSession::Options live;
    std::string output;
    long seconds = 0;  // 0: until stopped
    bool force = false;
};

// The arguments, or the usage message's reason.
std::string Parse(const std::vector<std::string>& args, RecordArgs& out) {
    std::vector<std::string> words;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--force") {
            out.force = true;
        } else if (a == "--ipv6") {
            out.live.ipv6 = true;
        } else if (a == "--seconds") {
            char* end = nullptr;
            out.seconds = hasValue ? std::strtol(args[i + 1].c_str(), &end, 10) : 0;
            if (!hasValue || *end != '\0' || out.seconds < 1 || out.seconds > kMaxSeconds) {
                return "--seconds wants a whole number of seconds from 1 to " +
                       std::to_string(kMaxSeconds);
            }
            ++i;
        } else if (a == "--rate") {
            const std::string rate = hasValue ? args[i + 1] : std::string();
            if (rate == "normal") {
                out.live.rate = qv::LiveRate::Normal;
            } else if (rate == "responsive") {
                out.live.rate = qv::LiveRate::Responsive;
            } else if (rate == "fast") {
                out.live.rate = qv::LiveRate::Fast;
            } else {
                return "--rate wants normal, responsive or fast";
            }
            ++i;
        } else if (a.rfind("--", 0) == 0) {
            return "unknown option " + a;
        } else {
            words.push_back(a);
        }
    }
    if (words.size() != 2) {
        return "record takes a target and an output file";
    }
    if (!ParseTarget(words[0], out.live.target)) {
        return "bad address \"" + words[0] + "\"";
    }
    out.output = words[1];
    if (!qv::media::KindOfPath(out.output)) {
        return "\"" + out.output + "\" must end in .mkv or .mp4";
    }
    return {};
}

}  // namespace

int RunRecord(int argc, char** argv, const std::vector<std::string>& args) {
    RecordArgs a;
    if (const std::string why = Parse(args, a); !why.empty()) {
        return Usage(why);
    }
    std::signal(SIGXFSZ, SIG_IGN);
    QCoreApplication app(argc, argv);
    qv::media::LiveRecorder recorder;
    recorder.limit = std::chrono::seconds(a.seconds);
    if (!recorder.Open(a.output, a.force)) {
        if (!a.force && recorder.Error() == a.output + " exists") {
            std::fprintf(stderr, "qvctl: %s exists; --force replaces it\n", a.output.c_str());
        } else {
            std::fprintf(stderr, "qvctl: %s\n", recorder.Error().c_str());
        }
        return kExitFailed;
    }
    LiveSession live(a.live);
    ProgressLine line(ProgressLine::StderrIsTerminal());
    int status = kExitOk;
    int losses = 0;
    bool ended = false;
    // Ends the recording at `end`: the stream first, so that nothing comes after it.
    const auto finish = [&](Clock::time_point end) {
        if (ended) {
            return;
        }
        ended = true;
        live.Stop();
        line.Done();
        if (status == kExitOk && !recorder.Finish(end)) {
            const qv::media::LiveRecorder::Stats s = recorder.stats();
            if (s.frames == 0 && !s.failed) {
                std::fprintf(stderr, "qvctl: no screen came from %s; %s was not written\n",
                             a.live.target.host.c_str(), a.output.c_str());
            } else {
                std::fprintf(
                    stderr, "qvctl: %s\n",
                    qv::media::WriteFailureText(recorder.Error(), recorder.DiskFull()).c_str());
            }
            status = kExitFailed;
        }
        recorder.Abort();
        app.quit();
    };
    QObject::connect(&live, &LiveSession::failed, &app, [&](const QString& reason) {
        std::fprintf(stderr, "qvctl: %s\n", reason.toLocal8Bit().constData());
        status = kExitFailed;
        finish(Clock::now());
    });
    QObject::connect(&live, &LiveSession::linkLost, &app, [&] {
        ++losses;
        line.Update("link lost: reconnecting", true);
    });
    HandleStopSignals([&](int /*signal*/) { finish(Clock::now()); });
    QTimer tick;
    tick.setInterval(100ms);
    QObject::connect(&tick, &QTimer::timeout, &app, [&] {
        const auto s = recorder.stats();
        if (s.failed) {
            finish(Clock::now());
            return;
        }
        const Clock::time_point first = recorder.FirstFrameAt();
        if (a.seconds > 0 && first != Clock::time_point{} &&
            Clock::now() >= first + std::chrono::seconds(a.seconds)) {
            finish(first + std::chrono::seconds(a.seconds));
            return;
        }
        if (live.LinkUp()) {
            line.Update("frames " + std::to_string(s.frames) + " · " + SecondsText(s.videoMs) +
                        " · " + ByteText(s.bytes));
        }
    });
    if (!live.Start([&recorder](std::span<const std::uint8_t> jpeg, Clock::time_point at) {
            recorder.Push(jpeg, at);
        })) {
        std::fprintf(stderr, "qvctl: %s\n", live.Error().c_str());
        return kExitFailed;
    }
    tick.start();
    app.exec();
    if (status == kExitOk) {
        const auto s = recorder.stats();
        std::printf("%s: %d frames, %s, %s", a.output.c_str(), s.frames,
                    SecondsText(s.videoMs).c_str(), ByteText(s.bytes).c_str());
        if (losses > 0) {
            std::printf(", link lost %d time%s", losses, losses == 1 ? "" : "s");
        }
        if (s.dropped > 0) {
            std::printf(", %d frames dropped (the disk was slower than the stream)", s.dropped);
        }
        std::printf("\n");
    }
    return status;
}

}  // namespace qvctl
