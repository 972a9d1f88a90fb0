// The system version as the engine asks for it to choose a USB device class. On Linux the
// answer is fixed: an NT-family system of major version 10, so the two-pipe device class is
// used (whose separate read and write pipes map onto a device's bulk IN and OUT endpoints)
// unless only an instrument of the older class is plugged in. The application hands these
// queries to the link (LinkPlatform).
#pragma once

#include "link/OsVersion.h"

namespace qv {

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
