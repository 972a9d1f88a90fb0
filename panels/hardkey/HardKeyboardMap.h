// Which panel key a PC key works: digits, Enter, Esc, Backspace, Delete, the keypad's
// decimal point and the up/down arrows. Decided by key code and, for the digit row, by the
// physical key, never by the character it types: Shift+1 still works the "1" key.
#pragma once

#include <QKeyEvent>
#include <Qt>
#include <cstdint>

namespace qv::hardkey {

// How the platform numbers physical keys in QKeyEvent::nativeScanCode().
enum class ScanCodes {
    None,     // not known (offscreen, tests): only key codes count
    X11,      // X11 / Wayland key codes (evdev + 8): digit row 10..19
    Windows,  // set-1 scan codes: digit row 0x02..0x0B
};

class HardKeyboardMap {
  public:
    // The panel key's control id, or 0 when the PC key is not mapped.
    static int ControlFor(int qtKey, Qt::KeyboardModifiers modifiers, std::uint32_t scanCode,
                          ScanCodes scanCodes);
    static int ControlFor(const QKeyEvent& event, ScanCodes scanCodes);
    // The numbering of the platform the application runs on.
    static ScanCodes PlatformScanCodes();
};

}  // namespace qv::hardkey
