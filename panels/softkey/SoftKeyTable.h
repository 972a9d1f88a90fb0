// The soft-key panel's keys: control id, the one command each sends and its skin row (images
// per scale, design place); the hidden keyboard button; the PC keyboard map.
#pragma once

#include <array>

#include "panels/KeyboardMap.h"
#include "panels/PanelKey.h"
#include "resources/ids.h"

namespace qv::softkey {

namespace detail {
constexpr PanelKey Key(int id, std::string_view command) {
    return PanelKey{id, command, SkinRow(skin::kSoftKeys, id)};
}
}  // namespace detail

// Ids 1013 to 1046 in order.
inline constexpr std::array<PanelKey, 34> kKeys{{
    detail::Key(1013, "KEYP:ESC"),  detail::Key(1014, "KEYP:CUS1"), detail::Key(1015, "KEYP:CUS2"),
    detail::Key(1016, "KEYP:CUS3"), detail::Key(1017, "KEYP:CUS4"), detail::Key(1018, "KEYP:CUS5"),
    detail::Key(1019, "KEYP:CUS6"), detail::Key(1020, "KEYP:CUS7"), detail::Key(1021, "KEYP:PREV"),
    detail::Key(1022, "KEYP:MODE"), detail::Key(1023, "KEYP:FREQ"), detail::Key(1024, "KEYP:AMP"),
    detail::Key(1025, "KEYP:BW"),   detail::Key(1026, "KEYP:TRAC"), detail::Key(1027, "KEYP:MARK"),
    detail::Key(1028, "KEYP:PEAK"), detail::Key(1029, "KEYP:NUM1"), detail::Key(1030, "KEYP:NUM2"),
    detail::Key(1031, "KEYP:NUM3"), detail::Key(1032, "KEYP:NUM4"), detail::Key(1033, "KEYP:NUM5"),
    detail::Key(1034, "KEYP:NUM6"), detail::Key(1035, "KEYP:NUM7"), detail::Key(1036, "KEYP:NUM8"),
    detail::Key(1037, "KEYP:NUM9"), detail::Key(1038, "KEYP:JUM"),  detail::Key(1039, "KEYP:NUM0"),
    detail::Key(1040, "KEYP:BUHO"), detail::Key(1041, "KEYP:DEL"),  detail::Key(1042, "KEYP:ENTR"),
    detail::Key(1043, "KEYP:UP"),   detail::Key(1044, "KEYP:RIGH"), detail::Key(1045, "KEYP:DOWN"),
    detail::Key(1046, "KEYP:LEFT"),
}};
static_assert(EveryKeyHasItsSkin(kKeys, skin::kSoftKeys), "a soft key has no skin row");

// The hidden "Keyboard" button; no key or menu item carries it.
inline constexpr int kKeyboardButton = ids::kSoftKeyboardButton;

// PC keys: F1 to F7 the soft keys, digits (main block or pad) the numeric pad, the pad's
// decimal point, the four arrows, Enter, Esc, Backspace and Delete.
inline constexpr std::array<KeyboardRow, 28> kKeyboard{{
    {Qt::Key_Backspace, false, 1041}, {Qt::Key_Delete, false, 1041}, {Qt::Key_Return, false, 1042},
    {Qt::Key_Enter, false, 1042},     {Qt::Key_Escape, false, 1013}, {Qt::Key_Left, false, 1046},
    {Qt::Key_Up, false, 1043},        {Qt::Key_Right, false, 1044},  {Qt::Key_Down, false, 1045},
    {Qt::Key_0, false, 1039},         {Qt::Key_1, false, 1029},      {Qt::Key_2, false, 1030},
    {Qt::Key_3, false, 1031},         {Qt::Key_4, false, 1032},      {Qt::Key_5, false, 1033},
    {Qt::Key_6, false, 1034},         {Qt::Key_7, false, 1035},      {Qt::Key_8, false, 1036},
    {Qt::Key_9, false, 1037},         {Qt::Key_Period, true, 1038},  {Qt::Key_Comma, true, 1038},
    {Qt::Key_F1, false, 1014},        {Qt::Key_F2, false, 1015},     {Qt::Key_F3, false, 1016},
    {Qt::Key_F4, false, 1017},        {Qt::Key_F5, false, 1018},     {Qt::Key_F6, false, 1019},
    {Qt::Key_F7, false, 1020},
}};

}  // namespace qv::softkey
