// What FFmpeg's own tools (ffprobe, ffmpeg) read in a video file, for the tests that check
// the files the program writes, the recordings those tests export, and a run in a child.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <set>
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

struct VideoFacts {
    std::string codec;
    std::string pixelFormat;
    int width = 0;
    int height = 0;
    int frames = 0;                      // decoded frames
    double duration = 0.0;               // the container's, in seconds
    std::vector<std::int64_t> packetMs;  // each packet's time, in order
};

// The first video stream as ffprobe reads it, in one pass; frames are counted by decoding them.
inline VideoFacts ProbeVideo(const std::string& file, bool countFrames = true) {
    const Ran ran = Shell(
        "ffprobe -v error -select_streams v:0 -of default=nw=1 " +
        std::string(countFrames ? "-count_frames " : "") +
        "-show_entries "
        "stream=codec_name,pix_fmt,width,height,nb_read_frames:format=duration:packet=pts_time " +
        Quote(file));
    std::map<std::string, std::string> field;
    VideoFacts f;
    std::istringstream in(ran.out);
    for (std::string line; std::getline(in, line);) {
        const std::size_t eq = line.find('=');
        if (line.compare(0, eq, "pts_time") == 0) {
            f.packetMs.push_back(std::llround(std::atof(line.c_str() + eq + 1) * 1000));
        } else if (eq != std::string::npos) {
            field[line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    f.codec = field["codec_name"];
    f.pixelFormat = field["pix_fmt"];
    f.width = std::atoi(field["width"].c_str());
    f.height = std::atoi(field["height"].c_str());
    f.frames = std::atoi(field["nb_read_frames"].c_str());
    f.duration = std::atof(field["duration"].c_str());
    return f;
}

// The JPEG packets of a Matroska file as ffmpeg copies them out, one file each, in order.
inline std::vector<std::string> ExtractFrames(const std::string& file, const std::string& into) {
    std::filesystem::create_directories(into);
    Shell("ffmpeg -v error -y -i " + Quote(file) + " -c copy -f image2 " +
          Quote(into + "/%08d.jpg"));
    // Numbered with leading zeros: in name order is in order.
    const std::set<std::filesystem::path> names(std::filesystem::directory_iterator(into), {});
    std::vector<std::string> frames;
    for (const auto& name : names) {
        std::ostringstream bytes;
        bytes << std::ifstream(name, std::ios::binary).rdbuf();
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
