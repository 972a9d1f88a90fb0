#include "session/Controls.h"

namespace qv {

ControlStates ControlsFor(LinkState link, bool streaming, bool networkUp) {
    const bool connected = link == LinkState::Connected;
    ControlStates c;
    c.connect = {link == LinkState::Disconnected && networkUp, connected};
    // While streaming the user stops first; Disconnect waits.
    c.disconnect = {connected && !streaming, !connected};
    c.start = {connected && !streaming, streaming};
    c.stop = {connected && streaming, !streaming};
    // Start enables the keys and Stop disables them; the link does not change them.
    c.keys = streaming;
    c.quality = connected;
    return c;
}

}  // namespace qv
