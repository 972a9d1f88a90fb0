// The frame file: where each received screen of a Start-to-Stop period is written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
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

}  // namespace qv
