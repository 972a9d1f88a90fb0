#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "session/ActivityLog.h"

namespace qv {
namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
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

const std::regex kStamp(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}   )");

class ActivityLogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* tmp = std::getenv("TMPDIR");
        std::string templ =
            std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/qvlogtestXXXXXX";
        ASSERT_NE(::mkdtemp(templ.data()), nullptr);
        dir_ = templ;
    }
    void TearDown() override {
        ActivityLog::Instance().Close();
        std::string cmd = "rm -rf '" + dir_ + "'";
        [[maybe_unused]] int rc = std::system(cmd.c_str());
    }
    std::string dir_;
};

std::tm Fixed() {
    std::tm t{};
    t.tm_year = 2024 - 1900;
    t.tm_mon = 2;
    t.tm_mday = 5;
    t.tm_hour = 7;
    t.tm_min = 8;
    t.tm_sec = 9;
    return t;
}

struct LineCase {
    const char* message;
    const char* line;
};

class ActivityLogLine : public ::testing::TestWithParam<LineCase> {};

TEST_P(ActivityLogLine, StampThreeBlanksMessageCrLf) {
    EXPECT_EQ(ActivityLog::FormatLine(Fixed(), GetParam().message), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ActivityLogLine,
    ::testing::Values(LineCase{"Disconnect", "2024-03-05 07:08:09   Disconnect\r\n"},
                      LineCase{"", "2024-03-05 07:08:09   \r\n"},
                      // A message ending in a line feed keeps it before CR LF.
                      LineCase{"KEYP:MODE\n", "2024-03-05 07:08:09   KEYP:MODE\n\r\n"},
                      LineCase{"a\nb", "2024-03-05 07:08:09   a\nb\r\n"},
                      LineCase{"TCP Request Ret : 133 ",
                               "2024-03-05 07:08:09   TCP Request Ret : 133 \r\n"}));

TEST(ActivityLogName, FileNameFromOpeningTime) {
    EXPECT_EQ(ActivityLog::FileName(Fixed()), "20240305_070809_log.txt");
}

TEST_F(ActivityLogTest, OpenWriteCloseProducesPrivateFile) {
    ActivityLog& log = ActivityLog::Instance();
    ASSERT_EQ(log.Open(dir_), 1);
    ASSERT_TRUE(log.IsOpen());
    const std::string path = log.Path();
    EXPECT_EQ(path.rfind(dir_ + "/", 0), 0u);
    EXPECT_TRUE(std::regex_search(path, std::regex(R"(/\d{8}_\d{6}_log\.txt$)"))) << path;

    log.Write("TCP Connected, Load Equp");
    log.Write("Receive Fail : STR_ERROR_TIMEOUT\n");
    log.Printf("%.3f, %d", 0.5, 7);
    log.Close();
    EXPECT_FALSE(log.IsOpen());
    EXPECT_TRUE(log.Path().empty());
    log.Write("after close");  // dropped

    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    const std::vector<std::string> lines = SplitCrLf(ReadAll(path));
    ASSERT_EQ(lines.size(), 3u);
    const char* messages[] = {"TCP Connected, Load Equp", "Receive Fail : STR_ERROR_TIMEOUT\n",
                              "0.500, 7"};
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_TRUE(std::regex_search(lines[i], kStamp)) << lines[i];
        EXPECT_EQ(lines[i].substr(22), messages[i]);
    }
}

TEST_F(ActivityLogTest, MissingOrUnwritableFolderSkipsQuietly) {
    ActivityLog& log = ActivityLog::Instance();
    EXPECT_EQ(log.Open(dir_ + "/absent"), 0);
    EXPECT_FALSE(log.IsOpen());
    log.Write("nothing");
    const std::string file = dir_ + "/plain";
    { std::ofstream(file) << "x"; }
    EXPECT_EQ(log.Open(file), 0);  // not a folder
    EXPECT_FALSE(log.IsOpen());

    if (::geteuid() == 0) {
        GTEST_SKIP() << "permissions do not bind root";
    }
    ASSERT_EQ(::chmod(dir_.c_str(), 0500), 0);
    EXPECT_EQ(log.Open(dir_), 0);
    log.Write("nothing");
    ::chmod(dir_.c_str(), 0700);
}

TEST_F(ActivityLogTest, PlantedLinkOrFileIsReplacedNotWrittenThrough) {
    const std::string victim = dir_ + "/victim";
    { std::ofstream(victim) << "keep"; }
    // The file name is the opening second: plant a link for this and the next few seconds.
    const std::time_t now = std::time(nullptr);
    for (int i = 0; i < 3; ++i) {
        const std::time_t t = now + i;
        std::tm local{};
        localtime_r(&t, &local);
        const std::string name = dir_ + "/" + ActivityLog::FileName(local);
        ASSERT_EQ(::symlink(victim.c_str(), name.c_str()), 0);
    }
    ActivityLog& log = ActivityLog::Instance();
    ASSERT_EQ(log.Open(dir_), 1);
    log.Write("line");
    const std::string path = log.Path();
    log.Close();
    struct stat st {};
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(ReadAll(victim), "keep");
    EXPECT_EQ(SplitCrLf(ReadAll(path)).size(), 1u);
}

TEST_F(ActivityLogTest, TwoThreadsNeverInterleave) {
    ActivityLog& log = ActivityLog::Instance();
    ASSERT_EQ(log.Open(dir_), 1);
    constexpr int kLines = 4000;
    const std::string pad(300, 'x');
    auto writer = [&](int id) {
        for (int i = 0; i < kLines; ++i) {
            log.Write("T" + std::to_string(id) + "-" + std::to_string(i) + "-" + pad);
        }
    };
    std::thread a(writer, 0);
    std::thread b(writer, 1);
    a.join();
    b.join();
    const std::string path = log.Path();
    log.Close();

    const std::vector<std::string> lines = SplitCrLf(ReadAll(path));
    ASSERT_EQ(lines.size(), 2u * kLines);
    const std::regex whole(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}   T([01])-(\d+)-x{300}$)");
    int next[2] = {0, 0};
    for (const std::string& line : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, whole)) << line.substr(0, 60);
        const int id = std::stoi(m[1]);
        // Each thread's lines keep their order.
        EXPECT_EQ(std::stoi(m[2]), next[id]++);
    }
    EXPECT_EQ(next[0], kLines);
    EXPECT_EQ(next[1], kLines);
}

TEST_F(ActivityLogTest, WriteWhileAnotherThreadCloses) {
    ActivityLog& log = ActivityLog::Instance();
    ASSERT_EQ(log.Open(dir_), 1);
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        while (!stop.load()) {
            log.Write("Screen 0.512");
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const std::string path = log.Path();
    log.Close();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    stop.store(true);
    writer.join();
    const std::string text = ReadAll(path);
    for (const std::string& line : SplitCrLf(text)) {
        EXPECT_EQ(line.substr(19), "   Screen 0.512");
    }
}

TEST_F(ActivityLogTest, DefaultFolderFallsBackToPrivateStateFolder) {
    char exe[4096];
    const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    ASSERT_GT(n, 0);
    std::string beside(exe, static_cast<std::size_t>(n));
    beside = beside.substr(0, beside.rfind('/')) + "/log";
    if (::access(beside.c_str(), W_OK) == 0) {
        GTEST_SKIP() << "a log folder exists beside the test program";
    }
    const char* old = std::getenv("XDG_STATE_HOME");
    const std::string saved = old != nullptr ? old : "";
    ::setenv("XDG_STATE_HOME", (dir_ + "/state").c_str(), 1);
    const std::string folder = ActivityLog::DefaultFolder();
    if (old != nullptr) {
        ::setenv("XDG_STATE_HOME", saved.c_str(), 1);
    } else {
        ::unsetenv("XDG_STATE_HOME");
    }
    EXPECT_EQ(folder, dir_ + "/state/QVRemote/log");
    struct stat st {};
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

}  // namespace
}  // namespace qv
