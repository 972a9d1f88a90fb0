#include "platform/SystemVersion.h"

#include <sys/socket.h>
#include <unistd.h>

namespace qv {

bool QueryVersionEx(OsVersion& out) {
    out = OsVersion{kPlatformWin32Nt, 10, 0};
    return true;
}

bool QueryVersion(OsVersion& out) {
    return QueryVersionEx(out);
}

int ClassifySystem(const OsVersion& v) {
    if (v.platformId == kPlatformWin32Windows) {
        if (v.major != 4) {
            return -1;
        }
        switch (v.minor) {
            case 0:
                return 1;
            case 10:
                return 2;
            case 90:
                return 3;
            default:
                return -1;
        }
    }
    if (v.platformId == kPlatformWin32Nt) {
        if (v.major <= 4) {
            return 4;
        }
        if (v.major == 5 && v.minor == 0) {
            return 5;
        }
        if (v.major == 6 && v.minor >= 1 && v.minor <= 3) {
            return 5 + v.minor;
        }
        return 9;
    }
    return -1;
}

int SystemClass() {
    OsVersion v;
    if (QueryVersionEx(v) || QueryVersion(v)) {
        return ClassifySystem(v);
    }
    return -1;
}

bool StartNetwork() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    return true;
}

}  // namespace qv
