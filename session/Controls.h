// Which of the window's controls the session's state allows: the one place that decides it,
// for the menu items and the panel's keys alike.
#pragma once

#include "session/SessionController.h"

namespace qv {

struct ControlStates {
    struct Item {
        bool enabled = false;
        bool checked = false;
    };
    Item connect, disconnect, start, stop;
    bool connectCancels = false;  // the Connect item ends the attempt under way
    bool keys = false;            // the panel's keys and knob
    bool quality = false;         // the quality items
};

// networkUp: false after a failed socket start-up, when nothing may connect.
ControlStates ControlsFor(LinkState link, bool streaming, bool networkUp);

}  // namespace qv
