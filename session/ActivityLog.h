// The program's one activity log: a timestamped line per session event, from any thread.
#pragma once

#include <atomic>
#include <ctime>
#include <mutex>
#include <string>
#include <string_view>

namespace qv {

class ActivityLog {
  public:
    static ActivityLog& Instance();

    ActivityLog(const ActivityLog&) = delete;
    ActivityLog& operator=(const ActivityLog&) = delete;

    // Opens a new file in the default folder: "log" beside the program when that folder is
    // writable, else the per-user state folder. Returns 1 when the file is open, else 0.
    int Open();
    // Opens a new file in folder (which is not created), 0600; when another program holds the
    // name, the next free one ("..._log_2.txt"). Returns 1 when the file is open.
    int Open(const std::string& folder);
    // Appends one line; does nothing while no file is open.
    void Write(std::string_view message);
    // Write with a printf format.
    void Printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void Close();

    bool IsOpen() const { return fd_.load() >= 0; }
    // Full path of the open file, empty when none is open.
    std::string Path() const;

    // The folder Open() uses; created (mode 0700) when it is the per-user one. Empty when
    // no folder can be had.
    static std::string DefaultFolder();
    // "YYYY-MM-DD hh:mm:ss   " + message + CR LF, for the given local time. Control
    // characters in the message are written escaped ("\x1b"), but for a line feed ending it.
    static std::string FormatLine(const std::tm& local, std::string_view message);
    // "YYYYMMDD_hhmmss_log.txt" for the given local time.
    static std::string FileName(const std::tm& local);

  private:
    ActivityLog() = default;
    ~ActivityLog();
    void CloseLocked();

    mutable std::mutex mutex_;  // guards the file across Write and Close
    std::atomic<int> fd_{-1};
    std::string path_;
    std::time_t lastWrite_ = 0;
};

}  // namespace qv
