#include "session/KeySender.h"

#include <algorithm>
#include <cstdio>

#include "link/CommandSet.h"
#include "link/ModelTable.h"
#include "session/ActivityLog.h"
#include "session/DisplayScale.h"

namespace qv {
namespace {

constexpr int kTouchWidth = 800;
constexpr int kTouchHeight = 600;

std::string TouchText(int x, int y) {
    return "KEYP " + std::to_string(x) + "," + std::to_string(y);
}

}  // namespace

KeySender::KeySender(CDevComm& engine, SessionController& session, bool softKey)
    : engine_(engine), session_(session), softKey_(softKey) {}

bool KeySender::Send(const std::string& line) {
    switch (session_.ActiveMethod()) {
        case kMethodTcp:
        case kMethodTcp6:
            return engine_.SendText(kCmdRequest, REQ_CMD, line) == 1;
        case kMethodUsb:
            return SendUsb(line) == 1;
        default:
            return true;
    }
}

void KeySender::SendKey(std::string text) {
    if (softKey_) {
        text += '\n';
        ActivityLog::Instance().Write(text);
        if (!Send(text)) {
            ActivityLog::Instance().Write("Send REQ_CMD Error");
        }
        return;
    }
    if (text == "KEYP:RIGH") {
        text = "KEYP:RIGHT";
    }
    ActivityLog::Instance().Write(text);
    sleep(kHardKeyPause);
    text += '\n';
    if (!Send(text)) {
        ActivityLog::Instance().Write("Send REQ_CMD Error");
        engine_.Disconnect();
    }
}

int KeySender::SendUsb(const std::string& line) {
    return engine_.UsbSendText(line);
}

std::string KeySender::HardKeyTouch(int x, int y, const ScreenRect& screen, bool hideKeys) {
    if (hideKeys) {
        return TouchText(x - screen.left, y - screen.top);
    }
    return TouchText(x - kHardScreenLeft, y - kHardScreenTop);
}

std::string KeySender::SoftKeyTouch(int x, int y, const ScreenRect& screen, int scaleSetting) {
    const double s = ScaleFactor(scaleSetting);  // the single-precision factor, widened
    // Truncated toward zero, then held to the instrument's screen.
    const int tx = static_cast<int>(static_cast<double>(x - screen.left) / s);
    const int ty = static_cast<int>(static_cast<double>(y - screen.top) / s);
    return TouchText(std::clamp(tx, 0, kTouchWidth), std::clamp(ty, 0, kTouchHeight));
}

std::optional<std::string> KeySender::Touch(int x, int y, const ScreenRect& screen,
                                            int scaleSetting, bool hideKeys) const {
    if (!engine_.IsConnected() || session_.streaming().load() != 1 || !screen.Contains(x, y)) {
        return std::nullopt;
    }
    if (softKey_) {
        if (session_.ModelKind() != kModelKindTouch) {
            return std::nullopt;
        }
        return SoftKeyTouch(x, y, screen, scaleSetting);
    }
    return HardKeyTouch(x, y, screen, hideKeys);
}

}  // namespace qv
