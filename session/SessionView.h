// What the session controller needs of its window: status panes, buttons, message boxes and
// timers. The panels implement it on Qt; tests record the calls. Calls may come from the
// connect thread; an implementation runs them on its user-interface thread, in order, and
// returns when they are done (a message box returns when the user closed it).
#pragma once

#include <string>

namespace qv {

class SessionView {
  public:
    virtual ~SessionView() = default;
    virtual void SetPaneText(int pane, const std::string& text) = 0;
    // Pane 1's icon: the connected or disconnected icon number.
    virtual void SetLinkIcon(int iconId) = 0;
    virtual void EnableControl(int id, bool enabled) = 0;
    // A plain box with an OK button, titled with the application name.
    virtual void MessageBox(const std::string& text) = 0;
    // The connection-failed message with its reason number.
    virtual void FailureMessage(int reason) = 0;
    // Starts (or restarts) the window timer with this id; one timer per id.
    virtual void StartTimer(int id, int periodMs) = 0;
    virtual void KillTimer(int id) = 0;
    // Repaints the whole window without erasing.
    virtual void Repaint() = 0;
};

}  // namespace qv
