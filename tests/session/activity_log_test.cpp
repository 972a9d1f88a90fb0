// The activity log: its line and file name, a private file that a planted link cannot
// redirect, a folder it cannot use, writers on several threads, its default folder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <atomic>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "session/ActivityLog.h"

namespace qv {
namespace {

std::string ReadAll(const std::string& path) {
    std::ostringstream out;
    out << std::ifstream(path, std::ios::binary).rdbuf();
    return out.str();
}

std::vector<std::string> SplitCrLf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t pos; (pos = text.find("\r\n", start)) != std::string::npos; start = pos + 2) {
        lines.push_back(text.substr(start, pos - start));
    }
    EXPECT_EQ(start, text.size()) << "text after the last CR LF";
    return lines;
}

class Log : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(tmp_.isValid()); }
    void TearDown() override { log_.Close(); }
    QTemporaryDir tmp_;
    const std::string dir_ = tmp_.path().toStdString();
    ActivityLog& log_ = ActivityLog::Instance();
};

TEST_F(Log, LinesAndNameFromTheLocalTime) {
    const std::tm t{9, 8, 7, 5, 2, 124, 0, 0, 0, 0, nullptr};  // 2024-03-05 07:08:09
    EXPECT_EQ(ActivityLog::FileName(t), "20240305_070809_log.txt");
    // Stamp, three blanks, the message as given (a line feed kept before CR LF), CR LF.
    const std::pair<const char*, const char*> lines[] = {
        {"Disconnect", "2024-03-05 07:08:09   Disconnect\r\n"},
        {"KEYP:MODE\n", "2024-03-05 07:08:09   KEYP:MODE\n\r\n"},
        {"TCP Request Ret : 133 ", "2024-03-05 07:08:09   TCP Request Ret : 133 \r\n"},
    };
    for (const auto& [message, line] : lines) {
        EXPECT_EQ(ActivityLog::FormatLine(t, message), line);
    }
}

// The name is the opening second: links planted for this and the next few are replaced by a
// private file of the user's, not written through.
TEST_F(Log, OpenWriteCloseMakesAPrivateFileWhateverLinkIsPlanted) {
    const std::string victim = dir_ + "/victim";
    std::ofstream(victim) << "keep";
    for (std::time_t t = std::time(nullptr), i = 0; i < 3; ++i) {
        const std::time_t at = t + i;
        std::tm local{};
        localtime_r(&at, &local);
        ASSERT_EQ(::symlink(victim.c_str(), (dir_ + "/" + ActivityLog::FileName(local)).c_str()),
                  0);
    }
    ASSERT_EQ(log_.Open(dir_), 1);
    const std::string path = log_.Path();
    EXPECT_TRUE(std::regex_match(path, std::regex(dir_ + R"(/\d{8}_\d{6}_log\.txt)"))) << path;
    log_.Write("TCP Connected, Load Equp");
    log_.Printf("%.3f, %d", 0.5, 7);
    log_.Close();
    EXPECT_TRUE(log_.Path().empty());
    log_.Write("after close");
    struct stat st {};
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(ReadAll(victim), "keep");
    const auto lines = SplitCrLf(ReadAll(path));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d   .*)")));
    EXPECT_EQ(lines[0].substr(22), "TCP Connected, Load Equp");
    EXPECT_EQ(lines[1].substr(22), "0.500, 7");
}

TEST_F(Log, AFolderItCannotUseIsSkippedQuietly) {
    std::ofstream(dir_ + "/plain") << "x";
    for (const std::string& folder : {dir_ + "/absent", dir_ + "/plain"}) {
        EXPECT_EQ(log_.Open(folder), 0) << folder;
        EXPECT_FALSE(log_.IsOpen());
        log_.Write("nothing");
    }
    if (::geteuid() != 0) {  // permissions do not bind root
        ASSERT_EQ(::chmod(dir_.c_str(), 0500), 0);
        EXPECT_EQ(log_.Open(dir_), 0);
        ::chmod(dir_.c_str(), 0700);
    }
}

// Two writers never interleave, each keeps its order, and a Close in their midst is safe.
TEST_F(Log, ThreadsNeverInterleaveAndACloseMeetsWritersSafely) {
    ASSERT_EQ(log_.Open(dir_), 1);
    const std::string path = log_.Path();
    std::atomic<int> written{0};
    const auto writer = [&](int id) {
        for (int i = 0; i < 4000; ++i, ++written) {
            log_.Write("T" + std::to_string(id) + "-" + std::to_string(i) + "-" +
                       std::string(300, 'x'));
        }
    };
    std::thread a(writer, 0), b(writer, 1);
    while (written.load() < 2000) {
        std::this_thread::yield();
    }
    log_.Close();
    a.join();
    b.join();
    const auto lines = SplitCrLf(ReadAll(path));
    EXPECT_GE(lines.size(), 2000u);
    const std::regex whole(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}   T([01])-(\d+)-x{300})");
    int next[2] = {0, 0};
    for (const std::string& line : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, whole)) << line.substr(0, 60);
        EXPECT_EQ(std::stoi(m[2]), next[std::stoi(m[1])]++) << "each thread's lines in order";
    }
}

TEST_F(Log, DefaultFolderFallsBackToAPrivateStateFolder) {
    char exe[4096];
    const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    ASSERT_GT(n, 0);
    const std::string beside = std::string(exe, static_cast<std::size_t>(n));
    if (::access((beside.substr(0, beside.rfind('/')) + "/log").c_str(), W_OK) == 0) {
        GTEST_SKIP() << "a log folder exists beside the test program";
    }
    ::setenv("XDG_STATE_HOME", (dir_ + "/state").c_str(), 1);
    const std::string folder = ActivityLog::DefaultFolder();
    ::unsetenv("XDG_STATE_HOME");
    EXPECT_EQ(folder, dir_ + "/state/QVRemote/log");
    struct stat st {};
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

}  // namespace
}  // namespace qv
