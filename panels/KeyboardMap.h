// A panel's PC keyboard map as data: which key event works which panel key. By key identity,
// never by the character typed: Shift+1 still works the "1" key, and the main block's full
// stop is not the numeric pad's decimal point.
#pragma once

#include <Qt>
#include <cstdint>
#include <span>

class QKeyEvent;

namespace qv {

// One row: a Qt key, whether only the numeric pad's key of that code counts, the control id.
struct KeyboardRow {
    int qtKey;
    bool padOnly;
    int controlId;
};

// How the platform numbers physical keys in QKeyEvent::nativeScanCode().
enum class ScanCodes {
    None,     // not known (offscreen, tests): only key codes count
    X11,      // X11 / Wayland key codes (evdev + 8): digit row 10..19
    Windows,  // set-1 scan codes: digit row 0x02..0x0B
};

// The control id a key works, or 0. Keys held with Alt belong to the window system. A main
// block key that types a symbol is found by its place on the digit row.
int MapKey(std::span<const KeyboardRow> map, int qtKey, Qt::KeyboardModifiers modifiers,
           std::uint32_t scanCode, ScanCodes scanCodes);
// The same for an event, with the numbering of the platform the program runs on.
int MapKey(std::span<const KeyboardRow> map, const QKeyEvent& event);
ScanCodes PlatformScanCodes();

}  // namespace qv
