// The system version as the start-up asks for it to decide on its text-size advice. On Linux
// the answer is fixed: an NT-family system of major version 10.
#pragma once

namespace qv {

inline constexpr int kPlatformWin32Windows = 1;
inline constexpr int kPlatformWin32Nt = 2;

struct OsVersion {
    int platformId = 0;
    int major = 0;
    int minor = 0;
};

// The extended query, and the basic one the engine falls back to.
bool QueryVersionEx(OsVersion& out);
bool QueryVersion(OsVersion& out);

// The start-up's system class: 1-3 for the 9x family, 4-9 for the NT family, -1 when the
// family or version is unknown. Classes 6 and lower get the text-size advice.
int ClassifySystem(const OsVersion& v);
// Asks the extended query, then the basic one; -1 when both fail.
int SystemClass();

// Socket start-up of the platform. POSIX sockets need none; false when no socket can be made.
bool StartNetwork();

}  // namespace qv
