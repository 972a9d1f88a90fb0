#include "media/Exporter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <vector>

#include "media/Recording.h"

namespace qv::media {
namespace {

// Reads the whole file into buffer (reused from frame to frame). An empty string, or why not.
std::string ReadFrame(int dirFd, const std::string& name, std::vector<std::uint8_t>& buffer) {
    const int fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return std::generic_category().message(errno);
    }
    struct stat st {};
    std::string why;
    if (::fstat(fd, &st) != 0) {
        why = std::generic_category().message(errno);
    } else if (!S_ISREG(st.st_mode)) {
        why = "not a file";
    } else if (static_cast<std::uint64_t>(st.st_size) > kMaxFrameFileBytes) {
        why = "too large for a screen";
    } else {
        buffer.resize(static_cast<std::size_t>(st.st_size));
        std::size_t done = 0;
        while (done < buffer.size()) {
            const ssize_t n = ::read(fd, buffer.data() + done, buffer.size() - done);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                why = n < 0 ? std::generic_category().message(errno) : "cut short";
                break;
            }
            done += static_cast<std::size_t>(n);
        }
    }
    ::close(fd);
    return why;
}

}  // namespace

std::string WriteFailureText(const std::string& error, bool diskFull) {
    return error + (diskFull ? " (the disk is full)" : "") + "; the partial file was removed";
}

ExportResult ExportRecording(const std::string& folder, const std::string& output,
                             const ExportOptions& options) {
    using Status = ExportResult::Status;
    ExportResult result;
    if (!KindOfPath(output)) {
        result.error = output + ": the name must end in .mkv or .mp4";
        return result;
    }
    std::vector<RecordingFrame> frames;
    if (!ListRecording(folder, frames, result.error)) {
        return result;
    }
    if (frames.empty()) {
        result.error = folder + " holds no recorded frames (*.jpg)";
        return result;
    }
    VideoWriter writer;
    if (!options.mp4Preset.empty()) {
        writer.mp4Preset = options.mp4Preset;
    }
    if (!writer.Open(output, options.replace)) {
        struct stat st {};
        result.exists = !options.replace && ::lstat(output.c_str(), &st) == 0;
        result.diskFull = writer.DiskFull();
        result.error = writer.Error();
        return result;
    }
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) {
        result.error = "cannot read " + folder + ": " + std::generic_category().message(errno);
        return result;
    }
    ExportProgress progress;
    progress.total = static_cast<int>(frames.size());
    std::vector<std::uint8_t> buffer;
    const auto skip = [&](const std::string& name, const std::string& why) {
        if (result.skipped++ == 0) {
            result.firstSkipped = name + ": " + why;
        }
    };
    // Times count from the first frame written; the last one is shown as long as the one
    // before it was (a lone frame for the normal screen period).
    std::int64_t origin = -1;
    std::int64_t last = 0;
    std::int64_t step = kUntimedStepMs;
    for (const RecordingFrame& frame : frames) {
        const std::string why = ReadFrame(dirFd, frame.name, buffer);
        if (!why.empty()) {
            skip(frame.name, why);
        } else {
            const std::int64_t at = origin < 0 ? 0 : frame.ms - origin;
            const auto added = writer.Add(buffer, at);
            if (added == VideoWriter::Added::Failed) {
                break;
            }
            if (added == VideoWriter::Added::Skipped) {
                skip(frame.name, writer.SkipReason());
            } else {
                if (origin < 0) {
                    origin = frame.ms;
                } else {
                    step = at - last;
                }
                last = at;
            }
        }
        ++progress.done;
        progress.skipped = result.skipped;
        progress.bytes = writer.Bytes();
        progress.videoMs = last;
        if (options.progress && !options.progress(progress)) {
            ::close(dirFd);
            writer.Abort();
            result.status = Status::Cancelled;
            result.error = "cancelled";
            return result;
        }
    }
    ::close(dirFd);
    result.frames = writer.Frames();
    if (progress.done < progress.total) {
        // The writer failed: what it wrote is removed.
        result.error = writer.Error();
        result.diskFull = writer.DiskFull();
        writer.Abort();
        return result;
    }
    if (result.frames == 0) {
        writer.Abort();
        result.error = "no frame of " + folder + " could be read (" +
                       std::to_string(result.skipped) + " skipped; " + result.firstSkipped + ")";
        return result;
    }
    if (!writer.Finish(last + step)) {
        result.error = writer.Error();
        result.diskFull = writer.DiskFull();
        struct stat st {};
        result.exists = !options.replace && ::lstat(output.c_str(), &st) == 0;
        return result;
    }
    result.bytes = writer.Bytes();
    result.durationMs = last + step;
    result.status = Status::Done;
    return result;
}

}  // namespace qv::media
