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

#include "link/Files.h"
#include "link/Printable.h"

namespace qv {
namespace {

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
    return MakePrivateFolders(folder) == 0 && IsWritableDir(folder) ? folder : std::string();
}

std::string ActivityLog::FormatLine(const std::tm& local, std::string_view message) {
    char stamp[64];
    const int n =
        std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d   ", local.tm_year + 1900,
                      local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    // A line feed that ends a command text stays, as the instrument got it; anything else a
    // terminal would act on (from an instrument's text) is written escaped.
    const bool lineFeed = !message.empty() && message.back() == '\n';
    if (lineFeed) {
        message.remove_suffix(1);
    }
    std::string line(stamp, static_cast<std::size_t>(n));
    line += Printable(message);
    line += lineFeed ? "\n\r\n" : "\r\n";
    return line;
}

std::string ActivityLog::FileName(const std::tm& local) {
    return FileStamp(local) + "_log.txt";
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
    // A new file only: never through a planted link, never into a file linked in from
    // elsewhere. A name already taken (another program opened its log in the same second) is
    // passed over for the next free one: that log stays whole.
    std::string path;
    const int fd = CreateNumberedFile(AT_FDCWD, folder + "/" + FileName(LocalNow()), path);
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
    // A full disk or the like: the session goes on without this line.
    WriteAll(fd, reinterpret_cast<const std::uint8_t*>(line.data()), line.size());
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
