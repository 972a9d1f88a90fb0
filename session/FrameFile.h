// The frame file: where each received screen of a Start-to-Stop period is written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>

namespace qv {

// Makes this period's frame file in folder, named by the local time "YYYYMMDD_hhmmss_mmm.jpg",
// and returns its path. The file is made at once (empty, mode 0600, never through a link), so
// the name is the session's own from the start; a name already held there (by another user,
// say, whose file cannot be replaced) is passed over for the next free one ("..._mmm_2.jpg")
// rather than failing every frame. When no file can be made the plain name is returned and
// the saves report it.
std::string NewFrameFile(const std::string& folder);
std::string NewFrameFile(const std::string& folder, const std::tm& local, int millis);

// Replaces the file at path with the bytes: a new file created exclusively beside it (mode
// 0600) and renamed over path, so a link planted under the name cannot redirect the write and
// a reader never sees half a frame. Returns 1 when written, 0 (logged as "Couldn't create the
// file!") when not.
int FileSaveBinary(const std::string& path, const std::uint8_t* data, std::size_t length);

// One session's frame file: a new one at every Start, in the temporary folder, written by the
// screen loop. Any thread.
class FrameFile {
  public:
    // folder: where the files are made; empty for the temporary folder.
    explicit FrameFile(std::string folder = {});

    // Start: makes this period's file (NewFrameFile) and writes there from now on.
    void Begin();
    // The current period's file; empty before the first Begin.
    std::string Path() const;
    // Writes one frame to the current file (FileSaveBinary) and gives that file's path in
    // written: 1 written, 0 not.
    int Save(const std::uint8_t* data, std::size_t length, std::string& written);

  private:
    const std::string folder_;
    // The path only: Begin, on the window's thread, never waits for a frame being written.
    mutable std::mutex pathLock_;
    std::string path_;
    std::mutex writeLock_;  // one frame written at a time
};

}  // namespace qv
