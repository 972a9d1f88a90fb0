#include "session/FrameFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <array>
#include <cstdio>

#include "link/Files.h"
#include "session/ActivityLog.h"

namespace qv {

std::string NewFrameFile(const std::string& folder) {
    int millis = 0;
    const std::tm local = LocalNow(&millis);
    return NewFrameFile(folder, local, millis);
}

std::string NewFrameFile(const std::string& folder, const std::tm& local, int millis) {
    std::array<char, 8> ms{};
    std::snprintf(ms.data(), ms.size(), "_%03d", millis);
    std::string path = folder + "/" + FileStamp(local) + ms.data() + ".jpg";
    std::string taken;
    const int fd = CreateNumberedFile(AT_FDCWD, path, taken);
    if (fd < 0) {
        return path;
    }
    ::close(fd);
    return taken;
}

int FileSaveBinary(const std::string& path, const std::uint8_t* data, std::size_t length) {
    if (ReplaceFile(path, data, length, 0600) != 0) {
        ActivityLog::Instance().Write("Couldn't create the file!");
        return 0;
    }
    return 1;
}

FrameFile::FrameFile(std::string folder) : folder_(std::move(folder)) {}

void FrameFile::Begin() {
    std::string path = NewFrameFile(folder_.empty() ? QDir::tempPath().toStdString() : folder_);
    std::lock_guard lock(pathLock_);
    path_ = std::move(path);
}

std::string FrameFile::Path() const {
    std::lock_guard lock(pathLock_);
    return path_;
}

int FrameFile::Save(const std::uint8_t* data, std::size_t length, std::string& written) {
    written = Path();
    std::lock_guard lock(writeLock_);
    return FileSaveBinary(written, data, length);
}

}  // namespace qv
