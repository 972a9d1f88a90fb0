#include "session/FrameFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "session/ActivityLog.h"

namespace qv {
namespace {

bool WriteAll(int fd, const std::uint8_t* data, std::size_t length) {
    while (length > 0) {
        const ssize_t n = ::write(fd, data, length);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

bool ReplaceFile(const std::string& path, const std::uint8_t* data, std::size_t length) {
    // mkstemp creates the file with O_EXCL and mode 0600 under a name nobody could plant.
    std::vector<char> temp(path.begin(), path.end());
    const char suffix[] = ".XXXXXX";
    temp.insert(temp.end(), suffix, suffix + sizeof suffix);  // with the terminating zero
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool written = (length == 0 || data != nullptr) && WriteAll(fd, data, length);
    const bool closed = ::close(fd) == 0;
    // rename replaces a planted link itself, never the file it points to.
    if (!written || !closed || ::rename(temp.data(), path.c_str()) != 0) {
        ::unlink(temp.data());
        return false;
    }
    return true;
}

int FileSaveBinary(const std::string& path, const std::uint8_t* data, std::size_t length) {
    if (!ReplaceFile(path, data, length)) {
        ActivityLog::Instance().Write("Couldn't create the file!");
        return 0;
    }
    return 1;
}

}  // namespace qv
