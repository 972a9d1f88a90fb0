// Writing a received screen to its frame file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qv {

// Replaces the file at path with the bytes. They go to a new file created exclusively in the
// same folder (mode 0600, no link followed) and renamed over path, so a link planted under
// the name cannot redirect the write and a reader never sees half a frame. Returns 1 when
// written, 0 (logged as "Couldn't create the file!") when not.
int FileSaveBinary(const std::string& path, const std::uint8_t* data, std::size_t length);

// The same replacement without the log line; false when the file could not be written.
bool ReplaceFile(const std::string& path, const std::uint8_t* data, std::size_t length);

}  // namespace qv
