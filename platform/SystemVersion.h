// What the start-up asks of the system before the first window.
#pragma once

namespace qv {

// The start-up's system class: classes 6 and lower (old systems, -1 unknown) get the text-size
// advice. Every system this program runs on is a current one.
inline constexpr int kCurrentSystemClass = 9;
inline int SystemClass() {
    return kCurrentSystemClass;
}

// Socket start-up of the platform. POSIX sockets need none; false when no socket can be made.
bool StartNetwork();

}  // namespace qv
