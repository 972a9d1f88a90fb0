// A recording folder written to one video file (VideoWriter), one frame in memory at a time
// however long the recording. Files that are not whole JPEG screens are skipped and counted;
// the rest is exported. Nothing is left under the output's name unless the export finished.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "media/VideoWriter.h"

namespace qv::media {

struct ExportProgress {
    int done = 0;   // frames looked at (written or skipped)
    int total = 0;  // frames in the folder
    int skipped = 0;
    std::uint64_t bytes = 0;   // the file's size so far
    std::int64_t videoMs = 0;  // the video's length so far
};

struct ExportResult {
    enum class Status { Done, Cancelled, Failed };
    Status status = Status::Failed;
    int frames = 0;  // in the file
    int skipped = 0;
    std::string firstSkipped;  // "name: reason" of the first file skipped
    std::uint64_t bytes = 0;
    std::int64_t durationMs = 0;
    bool diskFull = false;
    bool exists = false;  // the output's name was taken and replace was not asked for
    std::string error;    // what failed, for the user

    bool ok() const { return status == Status::Done; }
};

struct ExportOptions {
    bool replace = false;   // an existing file under the output's name may be replaced
    std::string mp4Preset;  // the H.264 preset; empty for the writer's own
    // After each frame; returning false cancels the export.
    std::function<bool(const ExportProgress&)> progress;
};

// Screens larger than this are no instrument's screens (the link's largest answer).
inline constexpr std::size_t kMaxFrameFileBytes = 400000;

ExportResult ExportRecording(const std::string& folder, const std::string& output,
                             const ExportOptions& options);

// A failed write for the user: why, and that nothing was left behind.
std::string WriteFailureText(const std::string& error, bool diskFull);

}  // namespace qv::media
