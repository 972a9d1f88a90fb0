#include "session/Controls.h"

namespace qv {

ControlStates ControlsFor(LinkState link, bool streaming, bool networkUp) {
    const bool connected = link == LinkState::Connected;
    const bool healing = link == LinkState::Reconnecting;
    ControlStates c;
    // While connecting, the Connect item cancels the attempt.
    c.connectCancels = link == LinkState::Connecting;
    c.connect = {(link == LinkState::Disconnected && networkUp) || c.connectCancels, connected};
    // While streaming the user stops first; Disconnect waits. While healing, Disconnect ends it.
    c.disconnect = {(connected && !streaming) || healing, !connected};
    c.start = {connected && !streaming, streaming};
    c.stop = {(connected || healing) && streaming, !streaming};
    // Start enables the keys and Stop disables them; a link that is healing sends nothing.
    c.keys = streaming && !healing;
    c.quality = connected;
    c.record = connected && streaming;
    return c;
}

bool FramesMayFollow(LinkState link, bool streaming) {
    return streaming && (link == LinkState::Connected || link == LinkState::Reconnecting);
}

}  // namespace qv
