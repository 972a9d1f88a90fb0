#include "platform/SystemVersion.h"

namespace qv {

bool QueryVersionEx(OsVersion& out) {
    out = OsVersion{kPlatformWin32Nt, 10, 0};
    return true;
}

bool QueryVersion(OsVersion& out) {
    return QueryVersionEx(out);
}

}  // namespace qv
