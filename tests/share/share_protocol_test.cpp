// The share's pure parts: the browser's messages, the checks of a press, the PC key names,
// tokens, host and origin, log escaping and the command rate, each at its edges.
#include <gtest/gtest.h>

#include <QJsonObject>
#include <set>

#include "share/ShareProtocol.h"

namespace {

using qv::share::ViewerMessage;
using Kind = ViewerMessage::Kind;

qv::share::ShareKeySet Keys() {
    qv::share::ShareKeySet set;
    set.keys = {{1089, "5", "", "KEYP:NUM5"}, {1079, "Marker", "", "KEYP:MARK"}};
    set.knobId = 1101;
    set.screenWidth = 800;
    set.screenHeight = 480;
    return set;
}

// Each message as the browser may send it: its kind, and for a press what the panel's check
// makes of it ("touch x,y", a command, or "refused: why").
TEST(ShareMessage, EachMessageParsedAndEachPressCheckedAgainstThePanel) {
    const QByteArray head = R"({"t":"ack","p":")";
    const QByteArray longest = head + QByteArray(1024 - head.size() - 2, 'x') + R"("})";
    ASSERT_EQ(longest.size(), 1024);
    struct Case {
        QByteArray text;
        Kind kind;
        const char* press = "";  // "": not checked
    };
    const Case cases[] = {
        {R"({"t":"hello","token":"ab"})", Kind::Hello},
        {R"({"t":"hello"})", Kind::Bad},            // no token
        {R"({"t":"hello","token":5})", Kind::Bad},  // token not text
        {R"({"t":"ack"})", Kind::Ack, "refused"},
        {longest, Kind::Ack},
        {longest + " ", Kind::Bad},
        {R"({"t":"key","id":1089})", Kind::Key, "KEYP:NUM5"},
        {R"({"t":"key","id":1090})", Kind::Key, "refused: no such key"},  // not this panel's
        {R"({"t":"key","id":1089.5})", Kind::Bad},                        // not whole
        {R"({"t":"key","id":"1089"})", Kind::Bad},                        // not a number
        {R"({"t":"key","id":1e300})", Kind::Bad},                         // out of range
        {R"({"t":"knob","dir":1})", Kind::Knob, "KEYP:RIGH"},
        {R"({"t":"knob","dir":-1})", Kind::Knob, "KEYP:LEFT"},
        {R"({"t":"knob","dir":2})", Kind::Knob, "refused"},
        {R"({"t":"knob","dir":0})", Kind::Knob, "refused"},
        // The screen is 800 x 480: the last pixel is inside, one more is not.
        {R"({"t":"touch","x":799,"y":479})", Kind::Touch, "touch 799,479"},
        {R"({"t":"touch","x":0,"y":0})", Kind::Touch, "touch 0,0"},
        {R"({"t":"touch","x":800,"y":0})", Kind::Touch, "refused"},
        {R"({"t":"touch","x":0,"y":480})", Kind::Touch, "refused"},
        {R"({"t":"touch","x":-1,"y":0})", Kind::Touch, "refused"},
        {R"({"t":"touch","x":1})", Kind::Bad},
        {R"({"t":"reboot"})", Kind::Bad},
        {R"([1,2])", Kind::Bad},
        {"{\"t\":\"ack\"", Kind::Bad},  // cut short
        {"", Kind::Bad},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.left(60).toStdString());
        const ViewerMessage m = qv::share::ParseViewerMessage(c.text);
        EXPECT_EQ(m.kind, c.kind);
        if (*c.press == '\0') {
            continue;
        }
        qv::share::SharePress press;
        QString why;
        std::string got = "refused";
        if (!qv::share::CheckPress(m, Keys(), true, press, why)) {
            got +=
                std::string(c.press).find(':') != std::string::npos ? ": " + why.toStdString() : "";
        } else if (press.kind == qv::share::SharePress::Kind::Touch) {
            got = "touch " + std::to_string(press.x) + "," + std::to_string(press.y);
        } else {
            got = press.command;
        }
        EXPECT_EQ(got, c.press);
    }
    qv::share::SharePress press;
    QString why;
    const auto touch = qv::share::ParseViewerMessage(R"({"t":"touch","x":10,"y":10})");
    EXPECT_FALSE(qv::share::CheckPress(touch, Keys(), false, press, why));
    EXPECT_EQ(why, "this instrument takes no touches");
}

TEST(ShareKeyboard, BrowserCodesByKeyIdentity) {
    const std::vector<qv::share::ShareKeyboardRow> rows = {
        {Qt::Key_5, false, 1089},         {Qt::Key_Period, true, 1095}, {Qt::Key_Comma, true, 1095},
        {Qt::Key_Return, false, 1097},    {Qt::Key_Enter, false, 1097}, {Qt::Key_F3, false, 1016},
        {Qt::Key_Backspace, false, 1098}, {Qt::Key_Up, false, 1099}};
    // The main block's full stop is not the pad's.
    const QJsonObject codes{{"Digit5", 1089},    {"Numpad5", 1089},     {"NumpadDecimal", 1095},
                            {"Enter", 1097},     {"NumpadEnter", 1097}, {"F3", 1016},
                            {"Backspace", 1098}, {"ArrowUp", 1099}};
    EXPECT_EQ(qv::share::BrowserKeyCodes(rows), codes);
}

TEST(ShareFrame, HeadThenTheJpegBytesUnchanged) {
    const QByteArray jpeg("\xFF\xD8\x01\x02\xFF\xD9", 6);
    const QByteArray m = qv::share::FrameMessage(0x01020304, 0x0A0B0C0D, jpeg);
    EXPECT_EQ(m, QByteArray("\x01\x02\x03\x04"  // sequence number, big-endian
                            "\x0A\x0B\x0C\x0D"  // age at the share in ms
                            "\xFF\xD8\x01\x02\xFF\xD9",
                            14));
}

TEST(ShareToken, FreshHexTokensComparedWhole) {
    std::set<QByteArray> seen;
    for (int i = 0; i < 64; ++i) {
        const QByteArray t = qv::share::MakeToken();
        ASSERT_EQ(t.size(), 32);
        EXPECT_EQ(QByteArray::fromHex(t).toHex(), t);
        seen.insert(t);
    }
    EXPECT_EQ(seen.size(), 64U);
    const QByteArray t = qv::share::MakeToken();
    EXPECT_TRUE(qv::share::TokensEqual(t, t));
    QByteArray last = t;
    last[31] = last[31] == '0' ? '1' : '0';
    EXPECT_FALSE(qv::share::TokensEqual(last, t));
    EXPECT_FALSE(qv::share::TokensEqual(t.left(31), t));
    EXPECT_FALSE(qv::share::TokensEqual(QByteArray(), QByteArray()));
}

TEST(ShareHost, HostAndOriginOfThePageOnly) {
    EXPECT_TRUE(qv::share::HostAllowed("127.0.0.1:8066", "box"));
    EXPECT_TRUE(qv::share::HostAllowed("[::1]:8066", "box"));
    EXPECT_TRUE(qv::share::HostAllowed("localhost:8066", "box"));
    EXPECT_TRUE(qv::share::HostAllowed("BOX:8066", "box"));
    EXPECT_TRUE(qv::share::HostAllowed("box.local:8066", "box"));
    EXPECT_FALSE(qv::share::HostAllowed("evil.example:8066", "box"));  // rebinding
    EXPECT_FALSE(qv::share::HostAllowed("", "box"));
    EXPECT_FALSE(qv::share::HostAllowed("a b:80", "box"));
    EXPECT_TRUE(qv::share::OriginMatches("http://127.0.0.1:8066", "127.0.0.1:8066", false));
    EXPECT_TRUE(qv::share::OriginMatches("https://[::1]:8066", "[::1]:8066", true));
    EXPECT_FALSE(qv::share::OriginMatches("http://127.0.0.1:8066", "127.0.0.1:8066", true));
    EXPECT_FALSE(qv::share::OriginMatches("http://127.0.0.1:9000", "127.0.0.1:8066", false));
    EXPECT_FALSE(qv::share::OriginMatches("null", "127.0.0.1:8066", false));
    EXPECT_FALSE(qv::share::OriginMatches("", "127.0.0.1:8066", false));
}

TEST(ShareRate, TwentyInASecondTheTwentyFirstWaits) {
    using namespace std::chrono_literals;
    qv::share::RateWindow rate(20, 1000ms);
    const auto t0 = qv::share::RateWindow::Clock::time_point{} + 10s;
    for (int i = 0; i < 20; ++i) {
        EXPECT_TRUE(rate.Allow(t0 + i * 10ms)) << i;
    }
    EXPECT_FALSE(rate.Allow(t0 + 999ms));   // 21st inside the second
    EXPECT_TRUE(rate.Allow(t0 + 1000ms));   // the first has left the window
    EXPECT_FALSE(rate.Allow(t0 + 1005ms));  // the second is still inside
    EXPECT_TRUE(rate.Allow(t0 + 1010ms));
}

}  // namespace
