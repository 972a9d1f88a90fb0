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
    bool record = false;          // Record: a recording starts only while frames come
    bool liveRate = true;         // the live-rate items; the next turn follows the choice
    bool scale = true;            // the scale items (soft-key panel)
    // Screen mode, Communication, Reconnect automatically, Save and Copy screen, Infomation.
    bool always = true;
};

// networkUp: false after a failed socket start-up, when nothing may connect.
ControlStates ControlsFor(LinkState link, bool streaming, bool networkUp);

// Frames may still come: streaming on a live link, or on one that is healing. A recording
// lasts as long as this holds.
bool FramesMayFollow(LinkState link, bool streaming);

}  // namespace qv
