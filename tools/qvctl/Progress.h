// The one line of progress export and record keep up to date on a terminal, and the texts
// they share. Quiet when standard error is not a terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace qvctl {

// "812 KB", "3.4 MB".
std::string ByteText(std::uint64_t bytes);
// "12.5 s".
std::string SecondsText(std::int64_t ms);

class ProgressLine {
  public:
    // Shows on standard error when it is a terminal (or when forced, for tests).
    explicit ProgressLine(bool show);
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    static bool StderrIsTerminal();

    // Replaces the line; at most ten times a second unless forced.
    void Update(const std::string& text, bool force = false);
    // Ends the line so that what follows starts on a new one.
    void Done();

  private:
    bool show_;
    bool shown_ = false;
    std::size_t width_ = 0;
    std::chrono::steady_clock::time_point last_{};
};

}  // namespace qvctl
