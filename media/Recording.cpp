#include "media/Recording.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

namespace qv::media {
namespace {

constexpr std::int64_t kDayMs = 24LL * 3600 * 1000;

bool Digits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
    });
}

bool IsJpegName(std::string_view name) {
    if (name.size() <= 4) {
        return false;
    }
    std::string tail(name.substr(name.size() - 4));
    std::transform(tail.begin(), tail.end(), tail.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return tail == ".jpg";
}

}  // namespace

std::optional<std::int64_t> TimeOfDayOfName(std::string_view name) {
    if (!IsJpegName(name)) {
        return std::nullopt;
    }
    name.remove_suffix(4);
    int millis = 0;
    // "_HHMMSS_mmm" or "_HHMMSS"
    if (name.size() >= 11 && name[name.size() - 4] == '_' && name[name.size() - 11] == '_' &&
        Digits(name.substr(name.size() - 3)) && Digits(name.substr(name.size() - 10, 6))) {
        millis = std::stoi(std::string(name.substr(name.size() - 3)));
        name.remove_suffix(4);
    } else if (!(name.size() >= 7 && name[name.size() - 7] == '_' &&
                 Digits(name.substr(name.size() - 6)))) {
        return std::nullopt;
    }
    const std::string hms(name.substr(name.size() - 6));
    const int h = std::stoi(hms.substr(0, 2));
    const int m = std::stoi(hms.substr(2, 2));
    const int s = std::stoi(hms.substr(4, 2));
    if (h > 23 || m > 59 || s > 59) {
        return std::nullopt;
    }
    return ((h * 60LL + m) * 60 + s) * 1000 + millis;
}

std::vector<std::int64_t> FrameTimes(const std::vector<std::optional<std::int64_t>>& timesOfDay) {
    std::vector<std::int64_t> out;
    out.reserve(timesOfDay.size());
    std::int64_t day = 0;                // whole days passed since the first frame's
    std::optional<std::int64_t> origin;  // the first timed frame's time of day, less its place
    std::int64_t last = 0;
    for (const auto& tod : timesOfDay) {
        std::int64_t at = 0;
        if (out.empty()) {
            at = 0;
            origin = tod;
        } else if (!tod) {
            at = last + kUntimedStepMs;
        } else {
            if (!origin) {
                // The first frames had no time: this one comes a step after them.
                origin = *tod - (last + kUntimedStepMs);
            }
            at = *tod + day - *origin;
            if (at < last - kDayMs / 2) {
                day += kDayMs;
                at += kDayMs;
            }
            at = std::max(at, last + 1);
        }
        out.push_back(at);
        last = at;
    }
    return out;
}

bool ListRecording(const std::string& folder, std::vector<RecordingFrame>& frames,
                   std::string& error) {
    namespace fs = std::filesystem;
    frames.clear();
    std::error_code failed;
    fs::directory_iterator it(folder, failed);
    if (!failed && !fs::is_directory(folder, failed)) {
        failed = std::make_error_code(std::errc::not_a_directory);
    }
    std::vector<std::string> names;
    for (; !failed && it != fs::directory_iterator(); it.increment(failed)) {
        std::error_code ignored;
        std::string name = it->path().filename().string();
        if (IsJpegName(name) && !it->is_directory(ignored)) {
            names.push_back(std::move(name));
        }
    }
    if (failed) {
        error = "cannot read " + folder + ": " + failed.message();
        return false;
    }
    // Byte order: recorded frames are numbered, frame files named by date and time.
    std::sort(names.begin(), names.end());
    std::vector<std::optional<std::int64_t>> tods;
    tods.reserve(names.size());
    for (const auto& name : names) {
        tods.push_back(TimeOfDayOfName(name));
    }
    const std::vector<std::int64_t> times = FrameTimes(tods);
    frames.reserve(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        frames.push_back({std::move(names[i]), times[i]});
    }
    return true;
}

}  // namespace qv::media
