// The system version as the engine asks for it to choose a USB device class, and the queries
// that answer it. The program hands the system's queries in; without them the engine takes
// the system for a newer one.
#pragma once

namespace qv {

inline constexpr int kPlatformWin32Windows = 1;
inline constexpr int kPlatformWin32Nt = 2;

struct OsVersion {
    int platformId = 0;
    int major = 0;
    int minor = 0;
};

// True with the version filled in; false when the system does not say.
using VersionQuery = bool (*)(OsVersion&);

// NT family of major version 6 or more: the two-pipe device class.
inline constexpr bool IsNewerSystem(const OsVersion& v) {
    return v.platformId == kPlatformWin32Nt && v.major >= 6;
}

}  // namespace qv
