// Pure pieces of the session: the touch commands, the controls by state, and the frame file.
#include "session/Commands.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QTemporaryDir>
#include <fstream>
#include <sstream>

#include "session/Controls.h"
#include "session/FrameFile.h"

namespace qv {
namespace {

TEST(Touches, ClicksOnTheScreenPictureBecomeCommands) {
    // The soft-key screen at (41, 39), drawn 800 x 600, 680 x 510 or 559 x 419.
    const ScreenRect soft[] = {{41, 39, 841, 639}, {41, 39, 721, 549}, {41, 39, 600, 458}};
    const ScreenRect hard{111, 25, 911, 505}, hidden{0, 0, 800, 480};
    struct Case {
        int scale;  // -1: hard-key panel, -2: hard-key panel in screen mode
        int x, y;
        const char* expected;  // "": outside the picture
    };
    const Case cases[] = {
        {0, 41 + 400, 39 + 300, "KEYP 400,300"},
        // 0.85 in single precision lies just above 0.85: 340 / 0.85f is 399.99998.
        {1, 41 + 340, 39 + 255, "KEYP 399,299"},
        {1, 41 + 341, 39 + 256, "KEYP 401,301"},
        {2, 41 + 558, 39, "KEYP 797,0"},  // the 70 % frame's last column
        {2, 41 + 559, 39, ""},
        {2, 41 + 7, 39 + 7, "KEYP 10,10"},
        {0, 41 + 10, 39 + 600, ""},
        {0, 40, 100, ""},
        {-1, 111 + 5, 25 + 6, "KEYP 5,6"},
        {-2, 30, 40, "KEYP 30,40"},
        {-1, 911, 100, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.scale << " " << c.x << "," << c.y);
        const ScreenRect& screen = c.scale == -1 ? hard : c.scale == -2 ? hidden : soft[c.scale];
        ASSERT_EQ(screen.Contains(c.x, c.y), *c.expected != '\0');
        if (*c.expected != '\0') {
            EXPECT_EQ(c.scale < 0 ? HardKeyTouch(c.x, c.y, screen)
                                  : SoftKeyTouch(c.x, c.y, screen, c.scale),
                      c.expected);
        }
    }
    // Far clicks are held to the screen: at 70 % 561 px would be 801.
    const ScreenRect wide{0, 0, 2000, 2000};
    EXPECT_EQ(SoftKeyTouch(560, 0, wide, 2), "KEYP 800,0");
    EXPECT_EQ(SoftKeyTouch(561, 0, wide, 2), "KEYP 800,0");
    EXPECT_EQ(SoftKeyTouch(0, 421, wide, 2), "KEYP 0,600");
    EXPECT_EQ(SoftKeyTouch(-5, -5, soft[0], 0), "KEYP 0,0");
}

// Connect, Disconnect, Start, Stop and the keys by state; the keys follow Start and Stop.
TEST(Controls, ByState) {
    using L = LinkState;
    const std::tuple<L, bool, std::array<bool, 5>> rows[] = {
        {L::Disconnected, false, {1, 0, 0, 0, 0}},
        {L::Connected, false, {0, 1, 1, 0, 0}},
        {L::Connected, true, {0, 0, 0, 1, 1}},
        {L::Connecting, false, {1, 0, 0, 0, 0}},  // Connect cancels the attempt
        // A link lost while streaming: remote control stays on for the reconnect.
        {L::Disconnected, true, {1, 0, 0, 0, 1}},
        // Healing: Disconnect and Stop end it; the keys send nothing.
        {L::Reconnecting, true, {0, 1, 0, 1, 0}},
        {L::Reconnecting, false, {0, 1, 0, 0, 0}},
    };
    for (const auto& [link, streaming, expected] : rows) {
        SCOPED_TRACE(static_cast<int>(link) * 2 + streaming);
        const ControlStates c = ControlsFor(link, streaming, true);
        EXPECT_EQ((std::array{c.connect.enabled, c.disconnect.enabled, c.start.enabled,
                              c.stop.enabled, c.keys}),
                  expected);
        EXPECT_EQ(c.connectCancels, link == L::Connecting);
    }
    EXPECT_FALSE(ControlsFor(L::Disconnected, false, false).connect.enabled) << "no sockets";
}

TEST(FrameFile, ReplacesAPlantedLinkInsteadOfFollowingIt) {
    QTemporaryDir dir;
    const std::string victim = dir.filePath("victim").toStdString();
    const std::string frame = dir.filePath("frame.jpg").toStdString();
    std::ofstream(victim) << "precious";
    ASSERT_EQ(::symlink(victim.c_str(), frame.c_str()), 0);
    const auto read = [](const std::string& path) {
        std::stringstream s;
        s << std::ifstream(path, std::ios::binary).rdbuf();
        return s.str();
    };
    const std::vector<std::uint8_t> bytes(1000, 0x5A);
    ASSERT_EQ(FileSaveBinary(frame, bytes.data(), bytes.size()), 1);
    EXPECT_EQ(read(victim), "precious");
    struct stat st {};
    ASSERT_EQ(::lstat(frame.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(read(frame), std::string(1000, 'Z'));
    EXPECT_EQ(FileSaveBinary(frame, nullptr, 0), 1);
    EXPECT_EQ(read(frame), "") << "an empty reply makes an empty file";
    EXPECT_EQ(FileSaveBinary(dir.filePath("no/such/frame.jpg").toStdString(), bytes.data(), 10), 0);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::System).size(), 2)
        << "no temporary file is left behind";
}

}  // namespace
}  // namespace qv
