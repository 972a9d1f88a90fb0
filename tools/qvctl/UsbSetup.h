// qvctl usb and usb-rule: which attached USB devices could be an instrument, whether this
// user may open them and, when not, why: no rule, a rule udev has not loaded, no seat access.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "link/UsbBackend.h"
#include "platform/UsbDeviceList.h"

namespace qvctl {

// A rule line that gives devices an interface class.
struct ClassRule {
    std::string file;
    int line = 0;         // where the line starts
    std::string vendor;   // the idVendor pattern; empty matches any
    std::string product;  // the idProduct pattern; empty matches any
    std::string interfaceClass;
};

// udev's rule folders, the one that wins a file name first.
std::vector<std::string> SystemRuleDirs();
// The class rules of every *.rules file, in udev's order; a file hides a file of the same
// name in a later folder, as in udev.
std::vector<ClassRule> ReadClassRules(const std::vector<std::string>& dirs);

enum class UsbVerdict {
    Ready,          // the program can open it
    NoRule,         // no rule gives it a class
    RuleNotLoaded,  // a rule would, but udev has not applied it
    UnknownClass,   // the rule gives a class no device generation has
    NoSeatAccess,   // the device node is not open to this user
    InUse,          // another program holds it
    NoPipes,        // no vendor interface with a bulk pipe each way (or it went away)
    CannotOpen,     // any other refusal
};

struct UsbFinding {
    qv::UsbDeviceInfo device;
    UsbVerdict verdict = UsbVerdict::NoRule;
    ClassRule rule;              // RuleNotLoaded: the rule found
    bool upperCaseRule = false;  // NoRule: a rule names the ids in upper case
    unsigned error = 0;          // CannotOpen: the backend's code
};

// Judges the devices that could be an instrument (a class, or a vendor interface with bulk
// pipes; every device with all). Devices with a class are opened through the backend, as the
// program would, and closed again.
std::vector<UsbFinding> CheckUsbDevices(const std::vector<qv::UsbDeviceInfo>& devices,
                                        const std::vector<ClassRule>& rules,
                                        qv::UsbBackend& backend, bool all);

// The report qvctl usb prints.
std::string FormatUsbReport(const std::vector<UsbFinding>& findings, bool all);
// 0 when a device the program can open is present, else 1.
int UsbExitStatus(const std::vector<UsbFinding>& findings);

// "VID:PID" as lsusb prints it, one to four hex digits each.
bool ParseUsbId(std::string_view text, std::uint16_t& vendor, std::uint16_t& product);
// The rule line that gives the device the class of its generation.
std::string UsbRuleLine(std::uint16_t vendor, std::uint16_t product, bool older);
// "1234:abcd"
std::string UsbIdText(std::uint16_t vendor, std::uint16_t product);

}  // namespace qvctl
