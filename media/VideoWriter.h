// One video file written from the instrument's JPEG screens, through FFmpeg's libraries:
//
//   .mkv  the JPEG files as they came (Motion-JPEG in Matroska, no re-encoding), each frame
//         at its own time: a variable frame rate, byte for byte what was received.
//   .mp4  H.264 (yuv420p, even sizes, index at the front for streaming), every frame scaled
//         to the first one's size and held until the next.
//
// The file is written under a temporary name beside its path (created exclusively, 0600) and
// renamed into place by Finish; until then, and after Abort or any failure, nothing lies under
// the path itself. One thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qv::media {

enum class VideoKind { Mkv, Mp4 };

// The kind a file name asks for by its extension (".mkv", ".mp4", any case).
std::optional<VideoKind> KindOfPath(std::string_view path);

class VideoWriter {
  public:
    enum class Added {
        Ok,       // taken (written, or held until the next frame gives its length)
        Skipped,  // not a whole JPEG, or one that does not decode; the file goes on without it
        Failed,   // the file cannot go on (Error() says why); Abort it
    };

    VideoWriter();
    ~VideoWriter();
    VideoWriter(const VideoWriter&) = delete;
    VideoWriter& operator=(const VideoWriter&) = delete;

    // Starts the file for path. replace false: Finish will not take a name that exists.
    // False with Error() set when the temporary file cannot be made, or for a path that
    // names neither kind.
    bool Open(const std::string& path, bool replace);
    // The frame shown from ms (milliseconds from the first frame's start; each later than the
    // one before). skipReason says why a frame was skipped.
    Added Add(std::span<const std::uint8_t> jpeg, std::int64_t ms);
    // The last frame is shown until endMs. Writes the file's end and gives it its name.
    // False (Error() set, nothing left behind) when it could not, or holds no frame.
    bool Finish(std::int64_t endMs);
    // Ends the file unwritten: the temporary file is removed.
    void Abort();

    const std::string& Error() const { return error_; }
    // The last failure was a full disk (or a file-size limit).
    bool DiskFull() const { return diskFull_; }
    const std::string& SkipReason() const { return skipReason_; }
    int Frames() const { return frames_; }
    std::uint64_t Bytes() const;
    // Where the file goes, and its kind.
    const std::string& Path() const { return path_; }
    VideoKind Kind() const { return kind_; }

    // The H.264 encoder's speed preset (tests and the benchmark compare them).
    std::string mp4Preset = "veryfast";

  private:
    struct Impl;
    // The previous frame, written now that its length is known.
    bool WritePending(std::int64_t durationMs);
    // Writes what the H.264 encoder has ready.
    bool Drain();
    bool Fail(const std::string& what, int averror);

    std::unique_ptr<Impl> impl_;
    VideoKind kind_ = VideoKind::Mkv;
    std::string path_;
    bool replace_ = false;
    std::string error_;
    std::string skipReason_;
    bool diskFull_ = false;
    int frames_ = 0;
    // The last frame taken: written when the next one (or Finish) tells its length.
    std::vector<std::uint8_t> pending_;
    std::int64_t pendingMs_ = -1;
};

}  // namespace qv::media
