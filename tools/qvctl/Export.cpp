#include "tools/qvctl/Export.h"

#include <csignal>
#include <cstdio>

#include "media/Exporter.h"
#include "tools/qvctl/ExitStatus.h"
#include "tools/qvctl/Progress.h"

namespace qvctl {
namespace {

volatile std::sig_atomic_t stopAsked = 0;

void AskStop(int /*signal*/) {
    stopAsked = 1;
}

int Usage(const char* why) {
    std::fprintf(stderr, "qvctl: %s\nusage: qvctl export FOLDER OUT.mkv|OUT.mp4 [--force]\n", why);
    return kExitUsage;
}

}  // namespace

int RunExport(const std::vector<std::string>& args) {
    std::vector<std::string> words;
    bool force = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--force") {
            force = true;
        } else if (args[i].rfind("--", 0) == 0) {
            return Usage(("unknown option " + args[i]).c_str());
        } else {
            words.push_back(args[i]);
        }
    }
    if (words.size() != 2) {
        return Usage("export takes a folder and an output file");
    }
    const std::string& folder = words[0];
    const std::string& output = words[1];
    if (!qv::media::KindOfPath(output)) {
        return Usage(("\"" + output + "\" must end in .mkv or .mp4").c_str());
    }

    // Interrupted, the export ends as a cancel does: nothing is left behind.
    struct sigaction action {};
    action.sa_handler = AskStop;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        ::sigaction(signal, &action, nullptr);
    }
    // A file-size limit is a full disk here, reported, not a killed program.
    std::signal(SIGXFSZ, SIG_IGN);

    ProgressLine line(ProgressLine::StderrIsTerminal());
    qv::media::ExportOptions options;
    options.replace = force;
    options.progress = [&line](const qv::media::ExportProgress& p) {
        line.Update("frames " + std::to_string(p.done) + "/" + std::to_string(p.total) + " · " +
                        SecondsText(p.videoMs) + " · " + ByteText(p.bytes),
                    p.done == p.total);
        return stopAsked == 0;
    };
    const qv::media::ExportResult result = qv::media::ExportRecording(folder, output, options);
    line.Done();
    if (result.skipped > 0 && result.frames > 0) {
        std::fprintf(stderr, "qvctl: skipped %d %s (first: %s)\n", result.skipped,
                     result.skipped == 1 ? "file that is not a whole JPEG screen"
                                         : "files that are not whole JPEG screens",
                     result.firstSkipped.c_str());
    }
    if (result.status == qv::media::ExportResult::Status::Cancelled) {
        std::fprintf(stderr, "qvctl: export stopped; %s was not written\n", output.c_str());
        return kExitFailed;
    }
    if (!result.ok()) {
        if (result.exists) {
            std::fprintf(stderr, "qvctl: %s exists; --force replaces it\n", output.c_str());
        } else if (result.frames > 0 || result.diskFull) {
            std::fprintf(stderr, "qvctl: %s\n",
                         qv::media::WriteFailureText(result.error, result.diskFull).c_str());
        } else {
            std::fprintf(stderr, "qvctl: %s\n", result.error.c_str());
        }
        return kExitFailed;
    }
    std::printf("%s: %d frames, %s, %s\n", output.c_str(), result.frames,
                SecondsText(result.durationMs).c_str(), ByteText(result.bytes).c_str());
    return kExitOk;
}

}  // namespace qvctl
