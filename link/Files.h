// Files as every layer writes them: whole or not at all, never through a planted link, under a
// name nobody else holds. Results are 0 or an errno value, so a caller can say why.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

namespace qv {

// As write(2): bytes written, or -1 with errno set. Tests hand in one that fills the disk.
using WriteFn = std::function<ssize_t(int fd, const std::uint8_t* data, std::size_t size)>;

// How many numbered names NumberedName tries before giving up (EEXIST).
inline constexpr int kMaxNumberedName = 99;

// Writes every byte, again after a signal. 0 or an errno value; a write that takes nothing
// is a full device (ENOSPC). write: ::write unless given.
int WriteAll(int fd, const std::uint8_t* data, std::size_t length, const WriteFn& write = {});

// mkdir -p: every folder it makes is 0700; folders that exist stay as they are. 0, or an
// errno value (ENOTDIR when path names something other than a folder).
int MakePrivateFolders(const std::string& path);

// The local time now; millis, when given, gets its milliseconds.
std::tm LocalNow(int* millis = nullptr);
// "YYYYMMDD_hhmmss" of the local time given.
std::string FileStamp(const std::tm& local);

// The n-th name for a file: n = 1 is name itself, n > 1 has "_n" before the extension of its
// last part ("a/b.jpg", 2: "a/b_2.jpg").
std::string NumberedName(const std::string& name, int n);

// Creates name (relative to dirFd, or a path with AT_FDCWD) as a new file for writing: never
// an existing one, never through a link, mode 0600. The descriptor, or -errno.
int CreateNewFile(int dirFd, const std::string& name);
// The same, passing over a name that is taken for the next NumberedName, up to
// kMaxNumberedName; taken gets the name used. The descriptor, or -errno (-EEXIST when all
// are taken).
int CreateNumberedFile(int dirFd, const std::string& name, std::string& taken);

// Replaces path with the bytes: a new file beside it (mode, less the umask) written whole and
// renamed over path, so a reader never sees half of it and a link planted at path is
// replaced, not written through. Nothing is left behind on failure. 0 or an errno value.
int ReplaceFile(const std::string& path, const std::uint8_t* data, std::size_t length, mode_t mode);

// A file written under a temporary name beside its final path and given that name only when
// it is whole. The temporary file is new (never an existing one, never through a link), mode
// 0600, open for reading and writing; the rename replaces a link at the final name, never the
// file it points to.
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
    // included) is left alone and EEXIST returned, the check and the rename one step. 0 or
    // an errno value; on failure the temporary file is removed.
    int Commit(bool replace);
    // Closes and removes the temporary file. Nothing when there is none.
    void Discard();

  private:
    int fd_ = -1;
    std::string path_;
    std::string temp_;
};

}  // namespace qv
