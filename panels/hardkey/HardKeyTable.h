// The keys of the hard-key panel: control id, command text, skin row (images and design
// place) and whether screen mode hides it; the knob's images; the PC keyboard map.
#pragma once

#include <array>

#include "panels/KeyboardMap.h"
#include "panels/PanelKey.h"
#include "resources/ids.h"

namespace qv::hardkey {

namespace detail {
constexpr PanelKey Key(int id, std::string_view command, bool hidden = false) {
    return PanelKey{id, command, SkinRow(skin::kHardKeys, id), hidden};
}
// Screen mode hides the keys that would lie over the instrument screen or inside the
// smaller window; the others stay shown outside the client area.
constexpr bool kHide = true;
}  // namespace detail

inline constexpr std::array<PanelKey, 28> kKeys{{
    detail::Key(1073, "KEYP:MODE", detail::kHide),
    detail::Key(1074, "KEYP:SETUP", detail::kHide),
    detail::Key(1075, "KEYP:FAV", detail::kHide),
    detail::Key(1076, "KEYP:QSAVE", detail::kHide),
    detail::Key(1077, "KEYP:SL", detail::kHide),
    detail::Key(1078, "KEYP:CAL", detail::kHide),
    detail::Key(1079, "KEYP:MARK"),
    detail::Key(1080, "KEYP:PEAK"),
    detail::Key(1081, "KEYP:TRACE"),
    detail::Key(1082, "KEYP:LIMIT"),
    detail::Key(1083, "KEYP:HOLD"),
    detail::Key(1084, "KEYP:AUTO"),
    detail::Key(1085, "KEYP:NUM1", detail::kHide),
    detail::Key(1086, "KEYP:NUM2", detail::kHide),
    detail::Key(1087, "KEYP:NUM3", detail::kHide),
    detail::Key(1088, "KEYP:NUM4"),
    detail::Key(1089, "KEYP:NUM5"),
    detail::Key(1090, "KEYP:NUM6"),
    detail::Key(1091, "KEYP:NUM7"),
    detail::Key(1092, "KEYP:NUM8"),
    detail::Key(1093, "KEYP:NUM9"),
    detail::Key(1094, "KEYP:NUM0", detail::kHide),
    detail::Key(1095, "KEYP:JUM"),
    detail::Key(1096, "KEYP:ESC", detail::kHide),
    detail::Key(1097, "KEYP:ENTR"),
    detail::Key(1098, "KEYP:BUHO"),
    detail::Key(1099, "KEYP:UP"),
    detail::Key(1100, "KEYP:DOWN"),
}};
static_assert(EveryKeyHasItsSkin(kKeys, skin::kHardKeys), "a hard key has no skin row");

// Thirteen images, index 0 the disabled one; the knob's place.
inline constexpr const skin::KnobSkin& kKnob = skin::kKnobs[0];
static_assert(skin::kKnobs[0].panel == skin::Panel::HardKey, "the hard-key knob's skin row");

// PC keys: digits (main block or pad), Enter, Esc, Backspace and Delete (the sign key), the
// pad's decimal point (a comma on some layouts), up and down. Left and right are not mapped.
inline constexpr std::array<KeyboardRow, 19> kKeyboard{{
    {Qt::Key_Backspace, false, 1098}, {Qt::Key_Delete, false, 1098}, {Qt::Key_Return, false, 1097},
    {Qt::Key_Enter, false, 1097},     {Qt::Key_Escape, false, 1096}, {Qt::Key_Up, false, 1099},
    {Qt::Key_Down, false, 1100},      {Qt::Key_0, false, 1094},      {Qt::Key_1, false, 1085},
    {Qt::Key_2, false, 1086},         {Qt::Key_3, false, 1087},      {Qt::Key_4, false, 1088},
    {Qt::Key_5, false, 1089},         {Qt::Key_6, false, 1090},      {Qt::Key_7, false, 1091},
    {Qt::Key_8, false, 1092},         {Qt::Key_9, false, 1093},      {Qt::Key_Period, true, 1095},
    {Qt::Key_Comma, true, 1095},
}};

}  // namespace qv::hardkey
