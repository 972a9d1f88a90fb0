#include "link/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <random>

namespace qv {
namespace {

constexpr int kNewFileFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
constexpr int kTempAttempts = 100;

// Six letters nobody can guess, for a temporary name beside the file it will replace.
std::string RandomSuffix() {
    static constexpr char kLetters[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937_64 random{std::random_device{}()};
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
    std::string suffix(6, 'x');
    for (char& c : suffix) {
        c = kLetters[pick(random)];
    }
    return suffix;
}

}  // namespace

int WriteAll(int fd, const std::uint8_t* data, std::size_t length, const WriteFn& write) {
    while (length > 0) {
        const ssize_t n = write ? write(fd, data, length) : ::write(fd, data, length);
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

int MakePrivateFolders(const std::string& path) {
    if (path.empty()) {
        return ENOENT;
    }
    for (std::size_t pos = path.find('/', 1);; pos = path.find('/', pos + 1)) {
        const std::string part = path.substr(0, pos);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            return errno;
        }
        if (pos == std::string::npos) {
            break;
        }
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return errno;
    }
    return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

std::tm LocalNow(int* millis) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    std::tm local{};
    const std::time_t seconds = now.tv_sec;
    ::localtime_r(&seconds, &local);
    if (millis != nullptr) {
        *millis = static_cast<int>(now.tv_nsec / 1'000'000);
    }
    return local;
}

std::string FileStamp(const std::tm& local) {
    std::array<char, 32> stamp{};
    const int n =
        std::snprintf(stamp.data(), stamp.size(), "%04d%02d%02d_%02d%02d%02d", local.tm_year + 1900,
                      local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return {stamp.data(), static_cast<std::size_t>(n > 0 ? n : 0)};
}

std::string NumberedName(const std::string& name, int n) {
    if (n <= 1) {
        return name;
    }
    const std::size_t slash = name.rfind('/');
    const std::size_t base = slash == std::string::npos ? 0 : slash + 1;
    std::size_t dot = name.rfind('.');
    // A dot that starts the name (".hidden") or lies in a folder's name is no extension.
    if (dot == std::string::npos || dot <= base) {
        dot = name.size();
    }
    return name.substr(0, dot) + "_" + std::to_string(n) + name.substr(dot);
}

int CreateNewFile(int dirFd, const std::string& name) {
    const int fd = ::openat(dirFd, name.c_str(), kNewFileFlags, 0600);
    return fd >= 0 ? fd : -errno;
}

int CreateNumberedFile(int dirFd, const std::string& name, std::string& taken) {
    for (int n = 1; n <= kMaxNumberedName; ++n) {
        const std::string candidate = NumberedName(name, n);
        const int fd = CreateNewFile(dirFd, candidate);
        if (fd != -EEXIST) {
            if (fd >= 0) {
                taken = candidate;
            }
            return fd;
        }
    }
    return -EEXIST;
}

int ReplaceFile(const std::string& path, const std::uint8_t* data, std::size_t length,
                mode_t mode) {
    if (data == nullptr && length > 0) {
        return EINVAL;
    }
    std::string temp;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < kTempAttempts; ++attempt) {
        temp = path + "." + RandomSuffix();
        fd = ::open(temp.c_str(), kNewFileFlags, mode);
        if (fd < 0 && errno != EEXIST) {
            return errno;
        }
    }
    if (fd < 0) {
        return EEXIST;
    }
    int error = WriteAll(fd, data, length);
    if (::close(fd) != 0 && error == 0) {
        error = errno;
    }
    // rename replaces a link planted at path itself, never the file it points to.
    if (error == 0 && ::rename(temp.c_str(), path.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(temp.c_str());
    }
    return error;
}

int NewFile::Create(const std::string& path) {
    Discard();
    for (int attempt = 0; attempt < kTempAttempts; ++attempt) {
        std::string temp = path + "." + RandomSuffix();
        const int fd =
            ::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            fd_ = fd;
            path_ = path;
            temp_ = std::move(temp);
            return 0;
        }
        if (errno != EEXIST) {
            return errno;
        }
    }
    return EEXIST;
}

int NewFile::Commit(bool replace) {
    if (fd_ < 0) {
        return EBADF;
    }
    int error = ::close(fd_) == 0 ? 0 : errno;
    fd_ = -1;
    bool renamed = false;
    if (error == 0) {
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

}  // namespace qv
