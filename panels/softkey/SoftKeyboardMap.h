// PC keys that press panel keys: F1 to F7 the soft keys, digits the numeric pad, the arrows,
// Enter, Esc, Backspace and Delete. By key identity, not by the character it types.
#pragma once

#include <Qt>
#include <cstdint>

class QKeyEvent;

class SoftKeyboardMap {
  public:
    // The panel key id a key event stands for, or 0 when the key is not mapped. Keys held
    // with Alt are never mapped.
    static int KeyFor(const QKeyEvent& event);
    // By Qt key; keypad: the key comes from the numeric keypad.
    static int KeyForQtKey(int key, bool keypad);
    // By Windows virtual-key code, as the instrument line's own keyboard model names them.
    static int KeyForVirtualKey(int virtualKey);
    // A main-block digit key by its XKB key code (Shift+1 types "!" but is still the 1 key);
    // 0 for other codes.
    static int KeyForXkbCode(std::uint32_t code);
};
