#include "session/ActivityLog.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace qv {
namespace {

std::tm LocalNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

bool IsWritableDir(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           ::access(path.c_str(), W_OK | X_OK) == 0;
}

std::string ProgramFolder() {
    if (QCoreApplication::instance() != nullptr) {
        return QCoreApplication::applicationDirPath().toStdString();
    }
    std::vector<char> buf(4096);
    const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0) {
        return {};
    }
    std::string exe(buf.data(), static_cast<std::size_t>(n));
    const auto slash = exe.rfind('/');
    return slash == std::string::npos ? std::string() : exe.substr(0, slash);
}

std::string HomeFolder() {
    const char* home =
        std::getenv("HOME");  // NOLINT(concurrency-mt-unsafe): nothing of ours sets it
    if (home != nullptr && home[0] == '/') {
        return home;
    }
    struct passwd pw {};
    struct passwd* found = nullptr;
    std::vector<char> buf(16384);
    if (getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr && found->pw_dir[0] == '/') {
        return found->pw_dir;
    }
    return {};
}

// mkdir -p with mode 0700 for every folder it makes; existing folders are left as they are.
bool MakeFolders(const std::string& path) {
    for (std::size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos != path.size() && path[pos] != '/') {
            continue;
        }
        const std::string part = path.substr(0, pos);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            return false;
        }
    }
    return IsWritableDir(path);
}

}  // namespace

ActivityLog& ActivityLog::Instance() {
    static ActivityLog log;
    return log;
}

ActivityLog::~ActivityLog() {
    std::lock_guard<std::mutex> lock(mutex_);
    CloseLocked();
}

std::string ActivityLog::DefaultFolder() {
    const std::string program = ProgramFolder();
    if (!program.empty() && IsWritableDir(program + "/log")) {
        return program + "/log";
    }
    std::string state;
    const char* xdg = std::getenv("XDG_STATE_HOME");  // NOLINT(concurrency-mt-unsafe): as above
    if (xdg != nullptr && xdg[0] == '/') {
        state = xdg;
    } else {
        const std::string home = HomeFolder();
        if (home.empty()) {
            return {};
        }
        state = home + "/.local/state";
    }
    const std::string folder = state + "/QVRemote/log";
    return MakeFolders(folder) ? folder : std::string();
}

std::string ActivityLog::FormatLine(const std::tm& local, std::string_view message) {
    char stamp[64];
    const int n =
        std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d   ", local.tm_year + 1900,
                      local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    std::string line;
    line.reserve(static_cast<std::size_t>(n) + message.size() + 2);
    line.append(stamp, static_cast<std::size_t>(n));
    line.append(message);
    line.append("\r\n");
    return line;
}

std::string ActivityLog::FileName(const std::tm& local) {
    char name[64];
    std::snprintf(name, sizeof name, "%04d%02d%02d_%02d%02d%02d_log.txt", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return name;
}

int ActivityLog::Open() {
    const std::string folder = DefaultFolder();
    if (folder.empty()) {
        Close();
        return 0;
    }
    return Open(folder);
}

int ActivityLog::Open(const std::string& folder) {
    const std::string path = folder + "/" + FileName(LocalNow());
    // A new file only: never follow a planted link nor write into a file linked in from
    // elsewhere. An old file of the same name is replaced, not truncated in place.
    constexpr int kFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    int fd = ::open(path.c_str(), kFlags, 0600);
    if (fd < 0 && errno == EEXIST && ::unlink(path.c_str()) == 0) {
        fd = ::open(path.c_str(), kFlags, 0600);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    CloseLocked();
    if (fd < 0) {
        return 0;
    }
    fd_.store(fd);
    path_ = path;
    return 1;
}

void ActivityLog::Write(std::string_view message) {
    const std::string line = FormatLine(LocalNow(), message);
    std::lock_guard<std::mutex> lock(mutex_);
    const int fd = fd_.load();
    if (fd < 0) {
        return;
    }
    const char* p = line.data();
    std::size_t left = line.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;  // disk full or the like: the session goes on without this line
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    lastWrite_ = std::time(nullptr);
}

void ActivityLog::Printf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    // va_copy set it up; the analyzer does not follow va_copy.
    const int n = std::vsnprintf(nullptr, 0, format, copy);  // NOLINT(clang-analyzer-valist.*)
    va_end(copy);
    if (n < 0) {
        va_end(args);
        return;
    }
    std::string text(static_cast<std::size_t>(n) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, args);
    va_end(args);
    text.resize(static_cast<std::size_t>(n));
    Write(text);
}

void ActivityLog::Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    CloseLocked();
}

void ActivityLog::CloseLocked() {
    const int fd = fd_.exchange(-1);
    if (fd >= 0) {
        ::close(fd);
    }
    path_.clear();
}

std::string ActivityLog::Path() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return path_;
}

}  // namespace qv
