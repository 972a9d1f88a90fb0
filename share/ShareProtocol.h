// What travels between a share and a browser, as pure functions: the browser's messages
// (JSON text, at most 1 KB) checked against the panel's keys and screen, the frame message
// (an 8-byte head, then the instrument's JPEG bytes unchanged), the tokens, and the host and
// origin checks of the socket's upgrade.
//
// Browser -> share (text):
//   {"t":"hello","token":"<32 hex>"}   first message, within the hello deadline
//   {"t":"ack"}                        the last frame is shown: the next may come
//   {"t":"key","id":1089}              a panel key (control only)
//   {"t":"knob","dir":-1|1}            one knob step
//   {"t":"touch","x":120,"y":200}      a touch in screen pixels
// Share -> browser: text JSON {"t":"welcome"|"status"|"refused"|"error", ...} and binary
// frames:
//   seq (u32 BE) | age ms (u32 BE) | JPEG bytes as received
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <chrono>
#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

#include "share/ShareKeys.h"

namespace qv::share {

inline constexpr std::size_t kMaxMessage = 1024;
inline constexpr int kFrameHead = 8;

struct ViewerMessage {
    enum class Kind { Hello, Ack, Key, Knob, Touch, Bad };
    Kind kind = Kind::Bad;
    QByteArray token;
    int id = 0;
    int dir = 0;
    int x = 0;
    int y = 0;
    QString why;  // for Bad: what was wrong, said back to the browser
};

ViewerMessage ParseViewerMessage(const QByteArray& text);

// A press that may go to the instrument: the command text of a key or knob step, or a
// touch at (x, y) in the panel's screen.
struct SharePress {
    enum class Kind { Key, Touch };
    Kind kind = Kind::Key;
    int id = 0;
    std::string command;
    int x = 0;
    int y = 0;
};

// Checks a key, knob or touch message against the panel: known ids only, the knob's two
// directions, a touch inside the screen on a panel that takes touches. False with why set
// when it is refused.
bool CheckPress(const ViewerMessage& message, const ShareKeySet& keys, bool touches,
                SharePress& press, QString& why);

// The browser's KeyboardEvent.code names for the panel's PC keys: {"Digit5": 1089, ...}.
// By key identity, as the window maps them.
QJsonObject BrowserKeyCodes(const std::vector<ShareKeyboardRow>& rows);

QByteArray FrameMessage(quint32 seq, quint32 ageMs, const QByteArray& jpeg);

// 128 bits from the operating system as 32 lowercase hex digits; empty when the system
// gives none.
QByteArray MakeToken();
// Equal in time that does not depend on where they differ.
bool TokensEqual(const QByteArray& given, const QByteArray& expected);

// A Host header the page may be served under: an IP literal, "localhost" or this machine's
// name, with or without a port. A name that merely resolves here (DNS rebinding) is not.
bool HostAllowed(const QByteArray& host, const QString& machineName);
// The Origin of a socket upgrade is the page's own: same scheme and host:port as the request.
bool OriginMatches(const QByteArray& origin, const QByteArray& host, bool tls);

// At most `limit` events in any `window`: the rate a viewer's commands are held to.
class RateWindow {
  public:
    using Clock = std::chrono::steady_clock;
    RateWindow(std::size_t limit, std::chrono::milliseconds window)
        : limit_(limit), window_(window) {}
    // True when an event now stays within the limit (and counts it).
    bool Allow(Clock::time_point now);

  private:
    std::size_t limit_;
    std::chrono::milliseconds window_;
    std::deque<Clock::time_point> recent_;
};

}  // namespace qv::share
