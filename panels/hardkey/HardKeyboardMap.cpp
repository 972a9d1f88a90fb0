#include "panels/hardkey/HardKeyboardMap.h"

#include <QGuiApplication>

namespace qv::hardkey {
namespace {

constexpr int kKey0 = 1094;
constexpr int kKey1 = 1085;  // 1..9 follow
constexpr int kKeyPoint = 1095;
constexpr int kKeyEsc = 1096;
constexpr int kKeyEnter = 1097;
constexpr int kKeySign = 1098;
constexpr int kKeyUp = 1099;
constexpr int kKeyDown = 1100;

int DigitControl(int digit) {
    return digit == 0 ? kKey0 : kKey1 + digit - 1;
}

// The digit of a key on the main keyboard's digit row, -1 for any other key.
int DigitRowDigit(std::uint32_t scanCode, ScanCodes scanCodes) {
    std::uint32_t first = 0;
    switch (scanCodes) {
        case ScanCodes::X11:
            first = 10;
            break;
        case ScanCodes::Windows:
            first = 0x02;
            break;
        case ScanCodes::None:
            return -1;
    }
    if (scanCode < first || scanCode > first + 9) {
        return -1;
    }
    const int position = static_cast<int>(scanCode - first);  // "1" first, "0" last
    return position == 9 ? 0 : position + 1;
}

}  // namespace

int HardKeyboardMap::ControlFor(int qtKey, Qt::KeyboardModifiers modifiers, std::uint32_t scanCode,
                                ScanCodes scanCodes) {
    // Alt combinations belong to the window system.
    if (modifiers.testFlag(Qt::AltModifier)) {
        return 0;
    }
    const bool keypad = modifiers.testFlag(Qt::KeypadModifier);
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) {
        return DigitControl(qtKey - Qt::Key_0);
    }
    switch (qtKey) {
        case Qt::Key_Backspace:
        case Qt::Key_Delete:  // also the keypad point with Num Lock off
            return kKeySign;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return kKeyEnter;
        case Qt::Key_Escape:
            return kKeyEsc;
        case Qt::Key_Up:
            return kKeyUp;
        case Qt::Key_Down:
            return kKeyDown;
        case Qt::Key_Period:
        case Qt::Key_Comma:  // the keypad point of layouts with a decimal comma
            return keypad ? kKeyPoint : 0;
        default:
            break;
    }
    // A shifted digit row key types a symbol; the key itself is still the digit.
    if (!keypad) {
        if (const int digit = DigitRowDigit(scanCode, scanCodes); digit >= 0) {
            return DigitControl(digit);
        }
    }
    return 0;
}

int HardKeyboardMap::ControlFor(const QKeyEvent& event, ScanCodes scanCodes) {
    return ControlFor(event.key(), event.modifiers(), event.nativeScanCode(), scanCodes);
}

ScanCodes HardKeyboardMap::PlatformScanCodes() {
    const QString name = QGuiApplication::platformName();
    if (name == QLatin1String("xcb") || name.startsWith(QLatin1String("wayland"))) {
        return ScanCodes::X11;
    }
    if (name == QLatin1String("windows")) {
        return ScanCodes::Windows;
    }
    return ScanCodes::None;
}

}  // namespace qv::hardkey
