// Pure pieces of the session: the touch commands, the enabling of controls by state, and
// the frame file.
#include "session/Commands.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QTemporaryDir>
#include <fstream>
#include <sstream>

#include "session/Controls.h"
#include "session/FrameFile.h"

namespace qv {
namespace {

struct TouchCase {
    const char* name;
    bool softKey;
    int scale;
    bool hideKeys;
    int x, y;
    const char* expected;
};

void PrintTo(const TouchCase& c, std::ostream* os) {
    *os << c.name;
}

class Touches : public ::testing::TestWithParam<TouchCase> {};

TEST_P(Touches, MapClicksToCommands) {
    const TouchCase& c = GetParam();
    // The soft-key screen at (41, 39): 800 x 600, 680 x 510 or 559 x 419 drawn.
    constexpr int kWidth[] = {800, 680, 559};
    constexpr int kHeight[] = {600, 510, 419};
    const ScreenRect soft{41, 39, 41 + kWidth[c.scale], 39 + kHeight[c.scale]};
    const ScreenRect hard = c.hideKeys ? ScreenRect{0, 0, 800, 480} : ScreenRect{111, 25, 911, 505};
    const ScreenRect& screen = c.softKey ? soft : hard;
    if (*c.expected == '\0') {
        EXPECT_FALSE(screen.Contains(c.x, c.y));
        return;
    }
    ASSERT_TRUE(screen.Contains(c.x, c.y));
    EXPECT_EQ(c.softKey ? SoftKeyTouch(c.x, c.y, screen, c.scale) : HardKeyTouch(c.x, c.y, screen),
              c.expected);
}

const TouchCase kTouches[] = {
    {"SoftFullScale", true, 0, false, 41 + 400, 39 + 300, "KEYP 400,300"},
    // 0.85 in single precision lies just above 0.85: 340 / 0.85f is 399.99998.
    {"Soft085", true, 1, false, 41 + 340, 39 + 255, "KEYP 399,299"},
    {"Soft085Centre", true, 1, false, 41 + 341, 39 + 256, "KEYP 401,301"},
    // The 70 % frame is 559 wide: its last column is 558.
    {"Soft070LastColumn", true, 2, false, 41 + 558, 39, "KEYP 797,0"},
    {"Soft070RightEdgeOutside", true, 2, false, 41 + 559, 39, ""},
    {"Soft070Truncates", true, 2, false, 41 + 7, 39 + 7, "KEYP 10,10"},
    {"SoftBottomEdgeOutside", true, 0, false, 41 + 10, 39 + 600, ""},
    {"SoftLeftOfScreen", true, 0, false, 40, 100, ""},
    {"HardOffsets", false, 0, false, 111 + 5, 25 + 6, "KEYP 5,6"},
    {"HardHiddenKeys", false, 0, true, 30, 40, "KEYP 30,40"},
    {"HardRightEdgeOutside", false, 0, false, 911, 100, ""},
};

INSTANTIATE_TEST_SUITE_P(Clicks, Touches, ::testing::ValuesIn(kTouches),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TouchClamp, FarClicksAreHeldToTheScreen) {
    // At 70 % a click 560 px right of the left edge is x 800, 561 px would be 801 → 800.
    const ScreenRect wide{0, 0, 2000, 2000};
    EXPECT_EQ(SoftKeyTouch(560, 0, wide, 2), "KEYP 800,0");
    EXPECT_EQ(SoftKeyTouch(561, 0, wide, 2), "KEYP 800,0");
    EXPECT_EQ(SoftKeyTouch(0, 421, wide, 2), "KEYP 0,600");
    EXPECT_EQ(SoftKeyTouch(-5, -5, ScreenRect{0, 0, 800, 600}, 0), "KEYP 0,0");
}

// The buttons by state, as the session's table gives them (Connect, Disconnect, Start, Stop);
// the keys follow Start and Stop only.
TEST(Controls, ByState) {
    struct Row {
        LinkState link;
        bool streaming;
        bool connect, disconnect, start, stop, keys;
    };
    const Row rows[] = {
        {LinkState::Disconnected, false, true, false, false, false, false},
        {LinkState::Connected, false, false, true, true, false, false},
        {LinkState::Connected, true, false, false, false, true, true},
        // Connect cancels the attempt.
        {LinkState::Connecting, false, true, false, false, false, false},
        // A link lost while streaming: remote control stays on for the reconnect.
        {LinkState::Disconnected, true, true, false, false, false, true},
        // Healing: Disconnect and Stop end it; the keys send nothing.
        {LinkState::Reconnecting, true, false, true, false, true, false},
        {LinkState::Reconnecting, false, false, true, false, false, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(static_cast<int>(r.link) * 2 + r.streaming);
        const ControlStates c = ControlsFor(r.link, r.streaming, true);
        EXPECT_EQ(c.connect.enabled, r.connect);
        EXPECT_EQ(c.disconnect.enabled, r.disconnect);
        EXPECT_EQ(c.start.enabled, r.start);
        EXPECT_EQ(c.stop.enabled, r.stop);
        EXPECT_EQ(c.keys, r.keys);
    }
    // Without sockets nothing may connect.
    EXPECT_FALSE(ControlsFor(LinkState::Disconnected, false, false).connect.enabled);
    EXPECT_TRUE(ControlsFor(LinkState::Connecting, false, true).connectCancels);
    EXPECT_FALSE(ControlsFor(LinkState::Disconnected, false, true).connectCancels);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(FrameFile, ReplacesAPlantedLinkInsteadOfFollowingIt) {
    QTemporaryDir dir;
    const std::string victim = dir.filePath("victim").toStdString();
    const std::string frame = dir.filePath("frame.jpg").toStdString();
    std::ofstream(victim) << "precious";
    ASSERT_EQ(::symlink(victim.c_str(), frame.c_str()), 0);
    const std::vector<std::uint8_t> bytes(1000, 0x5A);
    ASSERT_EQ(FileSaveBinary(frame, bytes.data(), bytes.size()), 1);
    EXPECT_EQ(ReadFile(victim), "precious");
    struct stat st {};
    ASSERT_EQ(::lstat(frame.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(ReadFile(frame).size(), 1000u);
    // An empty reply makes an empty file; a folder that is not there, none.
    EXPECT_EQ(FileSaveBinary(frame, nullptr, 0), 1);
    EXPECT_EQ(ReadFile(frame).size(), 0u);
    EXPECT_EQ(FileSaveBinary(dir.filePath("no/such/frame.jpg").toStdString(), bytes.data(), 10), 0);
    // No temporary files are left behind.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::System).size(), 2);
}

}  // namespace
}  // namespace qv
