// Writing the files the program makes: a received screen to its frame file, and any file that
// must appear whole or not at all under a name a link could have been planted on.
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

// Writes all the bytes. 0 or an errno value; a write that takes nothing is a full device.
int WriteAll(int fd, const std::uint8_t* data, std::size_t length);

// A file written under a temporary name beside its final path and put in place only when it
// is whole. The temporary file is created exclusively, mode 0600, under a name nobody could
// have planted; the rename replaces a link at the final name, never the file it points to.
class NewFile {
  public:
    NewFile() = default;
    ~NewFile() { Discard(); }
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;

    // Creates the temporary file for path. 0 or an errno value.
    int Create(const std::string& path);
    int fd() const { return fd_; }
    const std::string& path() const { return path_; }
    const std::string& tempPath() const { return temp_; }

    // Closes the file and gives it its name. replace false: a name that exists (a link
    // included) is left alone and EEXIST returned. 0 or an errno value; on failure the
    // temporary file is removed.
    int Commit(bool replace);
    // Closes and removes the temporary file. Nothing when there is none.
    void Discard();

  private:
    int fd_ = -1;
    std::string path_;
    std::string temp_;
};

}  // namespace qv
