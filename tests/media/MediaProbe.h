// What FFmpeg's own tools (ffprobe, ffmpeg) read in a video file, for the tests that check
// the files the program writes, the recordings those tests export, and a run in a child.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "sim/SimScreen.h"

namespace qv::test {

struct Ran {
    int status = -1;
    std::string out;
};

// Runs a shell command line; its standard output (standard error too when asked).
inline Ran Shell(const std::string& command, bool withErrors = false) {
    Ran ran;
    FILE* pipe = ::popen((command + (withErrors ? " 2>&1" : " 2>/dev/null")).c_str(), "r");
    if (pipe == nullptr) {
        return ran;
    }
    std::array<char, 4096> buffer{};
    while (std::fgets(buffer.data(), buffer.size(), pipe) != nullptr) {
        ran.out += buffer.data();
    }
    const int status = ::pclose(pipe);
    ran.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return ran;
}

inline std::string Quote(const std::string& text) {
    std::string out = "'";
    for (const char c : text) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

// One value per line of ffprobe's plain output.
inline std::vector<std::string> ProbeLines(const std::string& file, const std::string& what,
                                           const std::string& extra = {}) {
    const Ran ran = Shell("ffprobe -v error -select_streams v:0 " + extra + " -show_entries " +
                          what + " -of csv=p=0 " + Quote(file));
    std::vector<std::string> lines;
    std::istringstream in(ran.out);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == ',') {
            line.pop_back();
        }
        if (!line.empty()) {
            lines.push_back(line);
        }
    }
    return lines;
}

inline std::string Probe1(const std::string& file, const std::string& what,
                          const std::string& extra = {}) {
    const auto lines = ProbeLines(file, what, extra);
    return lines.empty() ? std::string() : lines.front();
}

struct VideoFacts {
    std::string codec;
    std::string pixelFormat;
    int width = 0;
    int height = 0;
    int frames = 0;                      // decoded frames
    double duration = 0.0;               // the container's, in seconds
    std::vector<std::int64_t> packetMs;  // each packet's time, in order
};

inline VideoFacts ProbeVideo(const std::string& file) {
    VideoFacts f;
    f.codec = Probe1(file, "stream=codec_name");
    f.pixelFormat = Probe1(file, "stream=pix_fmt");
    const std::string size = Probe1(file, "stream=width,height");
    std::sscanf(size.c_str(), "%d,%d", &f.width, &f.height);
    f.frames = std::atoi(Probe1(file, "stream=nb_read_frames", "-count_frames").c_str());
    const Ran d =
        Shell("ffprobe -v error -show_entries format=duration -of csv=p=0 " + Quote(file));
    f.duration = std::atof(d.out.c_str());
    for (const std::string& t : ProbeLines(file, "packet=pts_time")) {
        f.packetMs.push_back(static_cast<std::int64_t>(std::llround(std::atof(t.c_str()) * 1000)));
    }
    return f;
}

// The JPEG packets of a Matroska file as ffmpeg copies them out, one file each, in order.
inline std::vector<std::string> ExtractFrames(const std::string& file, const std::string& into) {
    std::filesystem::create_directories(into);
    Shell("ffmpeg -v error -y -i " + Quote(file) + " -c copy -f image2 " +
          Quote(into + "/%08d.jpg"));
    std::vector<std::string> frames;
    for (int i = 1;; ++i) {
        std::array<char, 16> name{};
        std::snprintf(name.data(), name.size(), "%08d.jpg", i);
        std::ifstream in(into + "/" + name.data(), std::ios::binary);
        if (!in) {
            break;
        }
        std::ostringstream bytes;
        bytes << in.rdbuf();
        frames.push_back(bytes.str());
    }
    return frames;
}

// A recorded frame's name as a recording names it: number, then the time of day shown.
inline std::string RecordedName(int number, std::int64_t timeOfDayMs) {
    const std::int64_t t = timeOfDayMs % (24LL * 3600 * 1000);
    std::array<char, 48> name{};
    std::snprintf(name.data(), name.size(), "%08d_%02d%02d%02d_%03d.jpg", number,
                  static_cast<int>(t / 3600000), static_cast<int>(t / 60000 % 60),
                  static_cast<int>(t / 1000 % 60), static_cast<int>(t % 1000));
    return name.data();
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// What work returns, computed in a child process (for a file-size limit or a peak memory of
// its own); nothing when the child died before it answered.
inline std::optional<std::string> InChild(const std::function<std::string()>& work) {
    int fds[2];
    if (::pipe(fds) != 0) {
        return std::nullopt;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        const std::string out = work();
        [[maybe_unused]] const auto n = ::write(fds[1], out.data(), out.size());
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string out;
    std::array<char, 512> buffer{};
    for (ssize_t n; child > 0 && (n = ::read(fds[0], buffer.data(), buffer.size())) > 0;) {
        out.append(buffer.data(), static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || out.empty()) {
        return std::nullopt;
    }
    return out;
}

// Screens of the simulated instrument (each differs: its noise moves) at a size.
inline std::vector<std::string> Screens(int count, int width = 800, int height = 600) {
    sim::SimScreen screen(width, height);
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i) {
        const auto jpeg = screen.Render();
        out.emplace_back(jpeg.begin(), jpeg.end());
    }
    return out;
}

}  // namespace qv::test
