// The one path every command takes to the instrument (keys, knob, PC keys, quality, touches),
// and the touch command built from a click on the screen picture.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "link/CDevComm.h"
#include "session/ScreenRect.h"
#include "session/SessionController.h"

namespace qv {

// The soft-key panel's keyboard button; the tag between the brackets is ours.
inline constexpr std::string_view kKeyboardCommand = "SAVE:KEYP:STRS [QVRemote]";

// Hard-key panel: where the frame sits in the client area when the keys are shown.
inline constexpr int kHardScreenLeft = 111;
inline constexpr int kHardScreenTop = 25;

class KeySender {
  public:
    static constexpr std::chrono::milliseconds kHardKeyPause{100};

    KeySender(CDevComm& engine, SessionController& session, bool softKey);

    void SendKey(std::string text);

    // The touch command for a click at (x, y) in the client area, or nothing when the click
    // must not send one. scaleSetting: 0, 1, 2 for 100, 85 and 70 percent (soft-key panel);
    // hideKeys: screen mode of the hard-key panel.
    std::optional<std::string> Touch(int x, int y, const ScreenRect& screen, int scaleSetting,
                                     bool hideKeys) const;

    static std::string HardKeyTouch(int x, int y, const ScreenRect& screen, bool hideKeys);
    static std::string SoftKeyTouch(int x, int y, const ScreenRect& screen, int scaleSetting);

    // Replaces the hard-key panel's pause (tests and benchmarks).
    std::function<void(std::chrono::milliseconds)> sleep = [](std::chrono::milliseconds d) {
        std::this_thread::sleep_for(d);
    };

  private:
    bool Send(const std::string& line);
    int SendUsb(const std::string& line);

    CDevComm& engine_;
    SessionController& session_;
    const bool softKey_;
};

}  // namespace qv
