#include "panels/KeyboardMap.h"

#include <QGuiApplication>
#include <QKeyEvent>

namespace qv {
namespace {

// The digit of a key on the main block's digit row, -1 for any other key.
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

int Find(std::span<const KeyboardRow> map, int qtKey, bool pad) {
    for (const KeyboardRow& row : map) {
        if (row.qtKey == qtKey && (pad || !row.padOnly)) {
            return row.controlId;
        }
    }
    return 0;
}

}  // namespace

int MapKey(std::span<const KeyboardRow> map, int qtKey, Qt::KeyboardModifiers modifiers,
           std::uint32_t scanCode, ScanCodes scanCodes) {
    if (modifiers.testFlag(Qt::AltModifier)) {
        return 0;
    }
    const bool pad = modifiers.testFlag(Qt::KeypadModifier);
    if (const int id = Find(map, qtKey, pad)) {
        return id;
    }
    if (const int digit = pad ? -1 : DigitRowDigit(scanCode, scanCodes); digit >= 0) {
        return Find(map, Qt::Key_0 + digit, false);
    }
    return 0;
}

int MapKey(std::span<const KeyboardRow> map, const QKeyEvent& event) {
    return MapKey(map, event.key(), event.modifiers(), event.nativeScanCode(), PlatformScanCodes());
}

ScanCodes PlatformScanCodes() {
    const QString name = QGuiApplication::platformName();
    if (name == QLatin1String("xcb") || name.startsWith(QLatin1String("wayland"))) {
        return ScanCodes::X11;
    }
    if (name == QLatin1String("windows")) {
        return ScanCodes::Windows;
    }
    return ScanCodes::None;
}

}  // namespace qv
