// What a share offers a controlling browser: the panel's keys (id, legend, command) in the
// panel's order, the knob, the PC keyboard map and the screen a touch lands on. Filled by the
// panel that shares (from its key tables); the share checks every press against it.
#pragma once

#include <string>
#include <vector>

namespace qv::share {

struct ShareKey {
    int id = 0;
    std::string label;   // the legend on the key
    std::string second;  // second function (soft-key numeric pad), may be empty
    std::string command;
};

// A PC key as the panel maps it: Qt key code, whether only the numeric pad's key counts,
// control id.
struct ShareKeyboardRow {
    int qtKey = 0;
    bool padOnly = false;
    int controlId = 0;
};

struct ShareKeySet {
    std::vector<ShareKey> keys;
    std::vector<ShareKeyboardRow> keyboard;
    int knobId = 0;
    // The picture a touch is given in: the panel's screen at 100 %.
    int screenWidth = 800;
    int screenHeight = 600;

    const ShareKey* Find(int id) const {
        for (const ShareKey& key : keys) {
            if (key.id == id) {
                return &key;
            }
        }
        return nullptr;
    }
};

}  // namespace qv::share
