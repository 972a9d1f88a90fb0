// What the program hands the link at start: the system's USB backend and version queries.
// The link depends on nothing above it; the application creates these (libusb, the system
// version) and installs them before any engine opens USB. An engine's own setters win.
#pragma once

#include "link/OsVersion.h"

namespace qv {

class UsbBackend;

struct LinkPlatform {
    UsbBackend* usb = nullptr;  // none: USB cannot be opened
    VersionQuery versionEx = nullptr;
    VersionQuery version = nullptr;  // the basic query, asked when the extended one fails
};

// Installs p for engines opened from now on; the objects must outlive them.
void InstallLinkPlatform(const LinkPlatform& p);
LinkPlatform InstalledLinkPlatform();

}  // namespace qv
