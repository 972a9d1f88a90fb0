// qvctl ends every exchange within the answer deadline, whatever the instrument sends, and
// never writes a screen joined from two answers.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>

#include "link/CDevComm.h"
#include "tests/link/MaliciousPeer.h"

namespace qv::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct QvctlRun {
    int status = -1;
    std::string output;
    std::chrono::milliseconds took{};
};

QvctlRun Qvctl(std::uint16_t port, const std::string& verb) {
    const std::string command =
        std::string(QVCTL_PATH) + " 127.0.0.1:" + std::to_string(port) + " " + verb + " 2>&1";
    QvctlRun run;
    const auto t0 = Clock::now();
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return run;
    }
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
        run.output += buffer;
    }
    const int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0);
    return run;
}

std::string Temp(const char* name) {
    return (std::filesystem::temp_directory_path() /
            (std::string("qvctl_test_") + std::to_string(::getpid()) + "_" + name))
        .string();
}

TEST(Qvctl, EndsWithinTheAnswerDeadlineWhateverThePeerSends) {
    // A flood of first frames, and valid frames a byte every 300 ms; both at once.
    MaliciousPeer flood([](MaliciousPeer::Wire& w) {
        const auto frame = Frame(REQ_SCREEN, 255, 0, std::vector<std::uint8_t>(64, 1));
        while (w.Send(frame)) {
        }
    });
    MaliciousPeer trickle([](MaliciousPeer::Wire& w) {
        for (int i = 0; i < 255; ++i) {
            for (const std::uint8_t b : Frame(REQ_EQINFO, 255, static_cast<std::uint8_t>(i), {})) {
                if (!w.Send({b}) || !w.Pause(300ms)) {
                    return;
                }
            }
        }
    });
    const std::string file = Temp("flood.jpg");
    auto screenshot =
        std::async(std::launch::async, [&] { return Qvctl(flood.port(), "screenshot " + file); });
    auto info = std::async(std::launch::async, [&] { return Qvctl(trickle.port(), "info"); });
    for (auto* run : {&screenshot, &info}) {
        const QvctlRun r = run->get();
        EXPECT_EQ(r.status, 1) << r.output;
        EXPECT_NE(r.output.find("STR_ERROR_TIMEOUT"), std::string::npos) << r.output;
        EXPECT_GE(r.took, CDevComm::kAnswerDeadline - 200ms);
        EXPECT_LE(r.took, CDevComm::kAnswerDeadline + 1500ms);
    }
    EXPECT_FALSE(std::filesystem::exists(file));
}

TEST(Qvctl, ARestartedAnswerIsSavedWithoutTheOldPart) {
    MaliciousPeer restart([](MaliciousPeer::Wire& w) {
        const auto bytes = [](const char* s) {
            return std::vector<std::uint8_t>(s, s + std::char_traits<char>::length(s));
        };
        std::vector<std::uint8_t> all;
        for (const auto& f :
             {Frame(REQ_SCREEN, 2, 0, bytes("STALE-")), Frame(REQ_SCREEN, 2, 0, bytes("FRESH-")),
              Frame(REQ_SCREEN, 2, 1, bytes("SCREEN"))}) {
            all.insert(all.end(), f.begin(), f.end());
        }
        w.Send(all);
    });
    const std::string file = Temp("restart.jpg");
    const QvctlRun r = Qvctl(restart.port(), "screenshot " + file);
    ASSERT_EQ(r.status, 0) << r.output;
    std::ifstream in(file, std::ios::binary);
    const std::string saved((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(saved, "FRESH-SCREEN");
    std::filesystem::remove(file);
}

}  // namespace
}  // namespace qv::test
