// A panel's keys as the browser share offers them: the same key tables the window builds
// its keys from (order, legends, commands, PC keyboard) and the screen a touch lands on.
// Header only: qvctl serve uses it without the window's widgets.
#pragma once

#include <span>
#include <string>

#include "panels/KeyboardMap.h"
#include "panels/PanelKey.h"
#include "panels/hardkey/HardKeyTable.h"
#include "panels/softkey/SoftKeyTable.h"
#include "resources/ids.h"
#include "share/ShareKeys.h"

namespace qv {

inline share::ShareKeySet MakeShareKeys(std::span<const PanelKey> keys,
                                        std::span<const KeyboardRow> keyboard, int knobId,
                                        int screenWidth, int screenHeight) {
    share::ShareKeySet set;
    int soft = 0;
    for (const PanelKey& key : keys) {
        std::string label(key.skin->label);
        // The soft keys carry no legend: the instrument's screen labels them.
        if (label.empty()) {
            label = "Soft " + std::to_string(++soft);
        }
        set.keys.push_back(
            {key.id, std::move(label), std::string(key.skin->second), std::string(key.command)});
    }
    for (const KeyboardRow& row : keyboard) {
        set.keyboard.push_back({row.qtKey, row.padOnly, row.controlId});
    }
    set.knobId = knobId;
    set.screenWidth = screenWidth;
    set.screenHeight = screenHeight;
    return set;
}

// The soft-key panel's screen is 800 x 600 at 100 %, the hard-key panel's 800 x 480.
inline share::ShareKeySet ShareKeysFor(bool softKey) {
    return softKey ? MakeShareKeys(softkey::kKeys, softkey::kKeyboard, ids::kSoftKnob, 800, 600)
                   : MakeShareKeys(hardkey::kKeys, hardkey::kKeyboard, ids::kHardKnob, 800, 480);
}

}  // namespace qv
