#include "tools/qvctl/Progress.h"

#include <unistd.h>

#include <array>
#include <cstdio>

namespace qvctl {

std::string ByteText(std::uint64_t bytes) {
    std::array<char, 32> text{};
    if (bytes < 1024ULL * 1024) {
        std::snprintf(text.data(), text.size(), "%llu KB",
                      static_cast<unsigned long long>((bytes + 1023) / 1024));
    } else {
        std::snprintf(text.data(), text.size(), "%.1f MB",
                      static_cast<double>(bytes) / (1024.0 * 1024.0));
    }
    return text.data();
}

std::string SecondsText(std::int64_t ms) {
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%.1f s", static_cast<double>(ms) / 1000.0);
    return text.data();
}

ProgressLine::ProgressLine(bool show) : show_(show) {}

ProgressLine::~ProgressLine() {
    Done();
}

bool ProgressLine::StderrIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

void ProgressLine::Update(const std::string& text, bool force) {
    if (!show_) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (!force && shown_ && now - last_ < std::chrono::milliseconds(100)) {
        return;
    }
    last_ = now;
    // Spaces over what a longer line before left.
    const std::size_t pad = width_ > text.size() ? width_ - text.size() : 0;
    std::fprintf(stderr, "\r%s%*s", text.c_str(), static_cast<int>(pad), "");
    std::fflush(stderr);
    width_ = text.size();
    shown_ = true;
}

void ProgressLine::Done() {
    if (shown_) {
        std::fputc('\n', stderr);
        std::fflush(stderr);
        shown_ = false;
        width_ = 0;
    }
}

}  // namespace qvctl
