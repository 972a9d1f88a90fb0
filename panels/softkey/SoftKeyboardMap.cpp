#include "panels/softkey/SoftKeyboardMap.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <array>

namespace {

// Numeric pad ids by digit 0..9.
constexpr std::array<int, 10> kDigitKey{1039, 1029, 1030, 1031, 1032, 1033, 1034, 1035, 1036, 1037};
constexpr int kDel = 1041;
constexpr int kEnter = 1042;
constexpr int kEsc = 1013;
constexpr int kLeft = 1046;
constexpr int kUp = 1043;
constexpr int kRight = 1044;
constexpr int kDown = 1045;
constexpr int kDot = 1038;
constexpr int kSoftKey1 = 1014;

// XKB key codes of the main block's 1..9, 0 (evdev code + 8).
constexpr std::uint32_t kXkbOne = 10;
constexpr std::uint32_t kXkbZero = 19;

bool HasXkbCodes() {
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("xcb") || platform.startsWith(QLatin1String("wayland"));
}

}  // namespace

int SoftKeyboardMap::KeyForQtKey(int key, bool keypad) {
    if (key >= Qt::Key_0 && key <= Qt::Key_9) {
        return kDigitKey[static_cast<std::size_t>(key - Qt::Key_0)];
    }
    if (key >= Qt::Key_F1 && key <= Qt::Key_F7) {
        return kSoftKey1 + (key - Qt::Key_F1);
    }
    switch (key) {
        case Qt::Key_Backspace:
        case Qt::Key_Delete:
            return kDel;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return kEnter;
        case Qt::Key_Escape:
            return kEsc;
        case Qt::Key_Left:
            return kLeft;
        case Qt::Key_Up:
            return kUp;
        case Qt::Key_Right:
            return kRight;
        case Qt::Key_Down:
            return kDown;
        case Qt::Key_Period:
        case Qt::Key_Comma:
            // Only the keypad's decimal point; the main block's full stop stays a character.
            return keypad ? kDot : 0;
        default:
            return 0;
    }
}

int SoftKeyboardMap::KeyForVirtualKey(int vk) {
    if (vk >= 48 && vk <= 57) {
        return kDigitKey[static_cast<std::size_t>(vk - 48)];
    }
    if (vk >= 96 && vk <= 105) {
        return kDigitKey[static_cast<std::size_t>(vk - 96)];
    }
    if (vk >= 112 && vk <= 118) {
        return kSoftKey1 + (vk - 112);
    }
    switch (vk) {
        case 8:
        case 46:
            return kDel;
        case 13:
            return kEnter;
        case 27:
            return kEsc;
        case 37:
            return kLeft;
        case 38:
            return kUp;
        case 39:
            return kRight;
        case 40:
            return kDown;
        case 110:
            return kDot;
        default:
            return 0;
    }
}

int SoftKeyboardMap::KeyForXkbCode(std::uint32_t code) {
    if (code < kXkbOne || code > kXkbZero) {
        return 0;
    }
    return code == kXkbZero ? kDigitKey[0] : kDigitKey[code - kXkbOne + 1];
}

int SoftKeyboardMap::KeyFor(const QKeyEvent& event) {
    if (event.modifiers() & Qt::AltModifier) {
        return 0;
    }
#ifdef Q_OS_WIN
    if (event.nativeVirtualKey() != 0) {
        return KeyForVirtualKey(static_cast<int>(event.nativeVirtualKey()));
    }
#endif
    const bool keypad = (event.modifiers() & Qt::KeypadModifier) != 0;
    if (const int id = KeyForQtKey(event.key(), keypad)) {
        return id;
    }
    // Shift+digit arrives as its punctuation; the key underneath is still a digit.
    if (!keypad && HasXkbCodes()) {
        return KeyForXkbCode(event.nativeScanCode());
    }
    return 0;
}
