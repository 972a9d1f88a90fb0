// Command texts the session builds itself: the touch command from a click on the screen
// picture, and the soft-key panel's keyboard button.
#pragma once

#include <string>
#include <string_view>

#include "session/ScreenRect.h"

namespace qv {

// The soft-key panel's keyboard button; the tag between the brackets is ours.
inline constexpr std::string_view kKeyboardCommand = "SAVE:KEYP:STRS [QVRemote]";

// "KEYP x,y" for a click at (x, y) in the client area. Hard-key panel: the offset from the
// screen's corner, unscaled.
std::string HardKeyTouch(int x, int y, const ScreenRect& screen);
// Soft-key panel: divided by the display scale's factor, truncated, held to 800 x 600.
std::string SoftKeyTouch(int x, int y, const ScreenRect& screen, int scaleSetting);

}  // namespace qv
