#include "panels/hardkey/HardKeyTable.h"

#include <algorithm>

namespace qv::hardkey {
namespace {

constexpr const skin::KeySkin* SkinOf(int id) {
    for (const skin::KeySkin& k : skin::kHardKeys) {
        if (k.controlId == id) {
            return &k;
        }
    }
    return nullptr;
}

constexpr HardKey Key(int id, std::string_view command, bool hidden = false) {
    return HardKey{id, command, hidden, SkinOf(id)};
}

// Screen mode hides the keys that would lie over the instrument screen or inside the
// smaller window; the others stay shown outside the client area.
constexpr bool kHide = true;

constexpr std::array<HardKey, 28> kKeys{{
    Key(1073, "KEYP:MODE", kHide),  Key(1074, "KEYP:SETUP", kHide), Key(1075, "KEYP:FAV", kHide),
    Key(1076, "KEYP:QSAVE", kHide), Key(1077, "KEYP:SL", kHide),    Key(1078, "KEYP:CAL", kHide),
    Key(1079, "KEYP:MARK"),         Key(1080, "KEYP:PEAK"),         Key(1081, "KEYP:TRACE"),
    Key(1082, "KEYP:LIMIT"),        Key(1083, "KEYP:HOLD"),         Key(1084, "KEYP:AUTO"),
    Key(1085, "KEYP:NUM1", kHide),  Key(1086, "KEYP:NUM2", kHide),  Key(1087, "KEYP:NUM3", kHide),
    Key(1088, "KEYP:NUM4"),         Key(1089, "KEYP:NUM5"),         Key(1090, "KEYP:NUM6"),
    Key(1091, "KEYP:NUM7"),         Key(1092, "KEYP:NUM8"),         Key(1093, "KEYP:NUM9"),
    Key(1094, "KEYP:NUM0", kHide),  Key(1095, "KEYP:JUM"),          Key(1096, "KEYP:ESC", kHide),
    Key(1097, "KEYP:ENTR"),         Key(1098, "KEYP:BUHO"),         Key(1099, "KEYP:UP"),
    Key(1100, "KEYP:DOWN"),
}};

// By id, not by pointer: sanitizer builds cannot compare addresses in constant expressions.
constexpr bool EveryKeyHasItsSkin() {
    return std::all_of(kKeys.begin(), kKeys.end(), [](const HardKey& k) {
        return std::any_of(skin::kHardKeys.begin(), skin::kHardKeys.end(),
                           [&k](const skin::KeySkin& row) { return row.controlId == k.id; });
    });
}
static_assert(EveryKeyHasItsSkin(), "a hard key has no skin row");

constexpr std::size_t HardKnobIndex() {
    for (std::size_t i = 0; i < skin::kKnobs.size(); ++i) {
        if (skin::kKnobs[i].panel == skin::Panel::HardKey && skin::kKnobs[i].scale == 0) {
            return i;
        }
    }
    return skin::kKnobs.size();
}
static_assert(HardKnobIndex() < skin::kKnobs.size(), "the hard-key knob has no skin row");

}  // namespace

std::array<int, 4> HardKey::ReleaseSet() const {
    const auto& ids = skin->sets[0].ids;
    return {ids[0], ids[1], ids[0], ids[3]};
}

std::array<int, 4> HardKey::PressSet() const {
    const auto& ids = skin->sets[0].ids;
    return {ids[1], ids[1], ids[0], ids[3]};
}

std::span<const HardKey> HardKeyTable::Keys() {
    return kKeys;
}

const HardKey* HardKeyTable::Find(int id) {
    const auto it =
        std::find_if(kKeys.begin(), kKeys.end(), [id](const HardKey& k) { return k.id == id; });
    return it == kKeys.end() ? nullptr : &*it;
}

std::optional<std::string_view> HardKeyTable::Command(int id) {
    if (const HardKey* key = Find(id)) {
        return key->command;
    }
    return std::nullopt;
}

const skin::KnobSkin& HardKeyTable::Knob() {
    return skin::kKnobs[HardKnobIndex()];
}

}  // namespace qv::hardkey
