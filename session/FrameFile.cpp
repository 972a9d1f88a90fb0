#include "session/FrameFile.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "session/ActivityLog.h"

namespace qv {

int WriteAll(int fd, const std::uint8_t* data, std::size_t length) {
    while (length > 0) {
        const ssize_t n = ::write(fd, data, length);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (n == 0) {
            return ENOSPC;
        }
        data += n;
        length -= static_cast<std::size_t>(n);
    }
    return 0;
}

int NewFile::Create(const std::string& path) {
    Discard();
    // mkostemp creates the file with O_EXCL and mode 0600 under a name nobody could plant.
    std::vector<char> temp(path.begin(), path.end());
    const char suffix[] = ".XXXXXX";
    temp.insert(temp.end(), suffix, suffix + sizeof suffix);  // with the terminating zero
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    fd_ = fd;
    path_ = path;
    temp_ = temp.data();
    return 0;
}

int NewFile::Commit(bool replace) {
    if (fd_ < 0) {
        return EBADF;
    }
    int error = ::close(fd_) == 0 ? 0 : errno;
    fd_ = -1;
    bool renamed = false;
    if (error == 0) {
        // RENAME_NOREPLACE: the check and the rename are one step, so nothing planted after
        // a check is taken over.
        renamed = (replace ? ::rename(temp_.c_str(), path_.c_str())
                           : ::renameat2(AT_FDCWD, temp_.c_str(), AT_FDCWD, path_.c_str(),
                                         RENAME_NOREPLACE)) == 0;
        error = renamed ? 0 : errno;
        // A file system without it: a hard link is made only under a free name.
        if (!replace && error == EINVAL) {
            error = ::link(temp_.c_str(), path_.c_str()) == 0 ? 0 : errno;
        }
    }
    if (!renamed) {
        ::unlink(temp_.c_str());
    }
    temp_.clear();
    return error;
}

void NewFile::Discard() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temp_.empty()) {
        ::unlink(temp_.c_str());
        temp_.clear();
    }
}

bool ReplaceFile(const std::string& path, const std::uint8_t* data, std::size_t length) {
    NewFile file;
    if (file.Create(path) != 0) {
        return false;
    }
    if ((length != 0 && data == nullptr) || WriteAll(file.fd(), data, length) != 0) {
        return false;
    }
    return file.Commit(true) == 0;
}

int FileSaveBinary(const std::string& path, const std::uint8_t* data, std::size_t length) {
    if (!ReplaceFile(path, data, length)) {
        ActivityLog::Instance().Write("Couldn't create the file!");
        return 0;
    }
    return 1;
}

}  // namespace qv
