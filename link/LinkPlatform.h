// What the program hands the link at start: the system's USB backend. The link depends on
// nothing above it; the application creates the backend (libusb) and installs it before any
// engine opens USB. An engine's own setter wins.
#pragma once

namespace qv {

class UsbBackend;

struct LinkPlatform {
    UsbBackend* usb = nullptr;  // none: USB cannot be opened
};

// Installs p for engines opened from now on; the objects must outlive them.
void InstallLinkPlatform(const LinkPlatform& p);
LinkPlatform InstalledLinkPlatform();

}  // namespace qv
