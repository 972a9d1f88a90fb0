// One key of a panel picture as data: its control id, the one command it sends, its skin row
// (images per scale and design place) and whether screen mode hides it. Each panel keeps an
// array of these; the panel base walks it to build, draw and press the keys.
#pragma once

#include <span>
#include <string_view>

#include "widgets/SkinCatalogue.h"

namespace qv {

struct PanelKey {
    int id;
    std::string_view command;
    const skin::KeySkin* skin;
    bool hiddenInScreenMode = false;
};

// The skin row of a control id in a skin table, or nullptr.
template <std::size_t N>
constexpr const skin::KeySkin* SkinRow(const std::array<skin::KeySkin, N>& table, int id) {
    for (const skin::KeySkin& row : table) {
        if (row.controlId == id) {
            return &row;
        }
    }
    return nullptr;
}

// Every key has a skin row of its own id. By id, not by pointer: sanitizer builds cannot
// compare addresses in constant expressions.
template <std::size_t N, std::size_t M>
constexpr bool EveryKeyHasItsSkin(const std::array<PanelKey, N>& keys,
                                  const std::array<skin::KeySkin, M>& table) {
    for (const PanelKey& key : keys) {
        bool found = false;
        for (const skin::KeySkin& row : table) {
            found = found || row.controlId == key.id;
        }
        if (!found) {
            return false;
        }
    }
    return true;
}

// The row of a control id, or nullptr.
inline const PanelKey* FindKey(std::span<const PanelKey> keys, int id) {
    for (const PanelKey& key : keys) {
        if (key.id == id) {
            return &key;
        }
    }
    return nullptr;
}

}  // namespace qv
