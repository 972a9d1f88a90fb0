#include "session/Commands.h"

#include <algorithm>

#include "session/DisplayScale.h"

namespace qv {
namespace {

constexpr int kTouchWidth = 800;
constexpr int kTouchHeight = 600;

std::string TouchText(int x, int y) {
    return "KEYP " + std::to_string(x) + "," + std::to_string(y);
}

}  // namespace

std::string HardKeyTouch(int x, int y, const ScreenRect& screen) {
    return TouchText(x - screen.left, y - screen.top);
}

std::string SoftKeyTouch(int x, int y, const ScreenRect& screen, int scaleSetting) {
    const double s = ScaleFactor(scaleSetting);  // the single-precision factor, widened
    // Truncated toward zero, then held to the instrument's screen.
    const int tx = static_cast<int>(static_cast<double>(x - screen.left) / s);
    const int ty = static_cast<int>(static_cast<double>(y - screen.top) / s);
    return TouchText(std::clamp(tx, 0, kTouchWidth), std::clamp(ty, 0, kTouchHeight));
}

}  // namespace qv
