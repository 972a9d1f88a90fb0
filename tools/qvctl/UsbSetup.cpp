#include "tools/qvctl/UsbSetup.h"

#include <fnmatch.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>

#include "link/Printable.h"
#include "platform/LibUsbBackend.h"

namespace qvctl {

namespace {

constexpr const char* kRuleFile = "/etc/udev/rules.d/60-qvremote.rules";
constexpr const char* kReload =
    "sudo udevadm control --reload && sudo udevadm trigger --subsystem-match=usb";

std::string Trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r");
    return std::string(text.substr(first, last - first + 1));
}

// Splits a rule line at the commas between its keys; values are quoted and may hold commas.
std::vector<std::string> SplitKeys(const std::string& line) {
    std::vector<std::string> keys;
    std::string current;
    bool quoted = false;
    for (const char c : line) {
        if (c == '"') {
            quoted = !quoted;
        }
        if (c == ',' && !quoted) {
            keys.push_back(Trim(current));
            current.clear();
        } else {
            current += c;
        }
    }
    keys.push_back(Trim(current));
    return keys;
}

void ParseRuleLine(const std::string& file, int lineNumber, const std::string& line,
                   std::vector<ClassRule>& rules) {
    // KEY{name} OPERATOR "value"
    static const std::regex key(
        R"re(^(ATTRS?\{idVendor\}|ATTRS?\{idProduct\}|ENV\{([A-Za-z0-9_]+)\}))re"
        R"re(\s*(==|!=|\+=|:=|=)\s*"([^"]*)"$)re");
    ClassRule rule;
    rule.file = file;
    rule.line = lineNumber;
    bool gives = false;
    for (const std::string& part : SplitKeys(line)) {
        std::smatch m;
        if (!std::regex_match(part, m, key)) {
            continue;
        }
        const std::string name = m[1];
        const std::string op = m[3];
        if (name.find("idVendor") != std::string::npos && op == "==") {
            rule.vendor = m[4];
        } else if (name.find("idProduct") != std::string::npos && op == "==") {
            rule.product = m[4];
        } else if (m[2] == qv::kUdevClassProperty && (op == "=" || op == ":=")) {
            rule.interfaceClass = m[4];
            gives = true;
        }
    }
    if (gives) {
        rules.push_back(std::move(rule));
    }
}

// udev patterns: shell globs, with '|' between alternatives.
bool PatternMatches(const std::string& pattern, const std::string& value, bool foldCase) {
    if (pattern.empty()) {
        return true;
    }
    std::size_t start = 0;
    for (;;) {
        const auto bar = pattern.find('|', start);
        const std::string alternative = pattern.substr(start, bar - start);
        if (fnmatch(alternative.c_str(), value.c_str(), foldCase ? FNM_CASEFOLD : 0) == 0) {
            return true;
        }
        if (bar == std::string::npos) {
            return false;
        }
        start = bar + 1;
    }
}

std::string Hex4(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value);
    return text;
}

const ClassRule* FindRule(const std::vector<ClassRule>& rules, const qv::UsbDeviceInfo& device,
                          bool foldCase) {
    for (const ClassRule& rule : rules) {
        if (PatternMatches(rule.vendor, Hex4(device.vendor), foldCase) &&
            PatternMatches(rule.product, Hex4(device.product), foldCase)) {
            return &rule;
        }
    }
    return nullptr;
}

std::string Generation(const std::string& interfaceClass) {
    if (interfaceClass == qv::kUsbClassVista) {
        return "newer generation (two pipes) " + interfaceClass;
    }
    if (interfaceClass == qv::kUsbClassXp) {
        return "older generation (one handle) " + interfaceClass;
    }
    return "unknown " + interfaceClass;
}

}  // namespace

std::vector<std::string> SystemRuleDirs() {
    return {"/etc/udev/rules.d", "/run/udev/rules.d", "/usr/local/lib/udev/rules.d",
            "/usr/lib/udev/rules.d", "/lib/udev/rules.d"};
}

std::vector<ClassRule> ReadClassRules(const std::vector<std::string>& dirs) {
    namespace fs = std::filesystem;
    // udev reads the files of all folders in name order; of two files with one name the
    // earlier folder's wins (a link to /dev/null hides a file).
    std::vector<std::pair<std::string, fs::path>> files;
    std::set<std::string> seen;
    for (const std::string& dir : dirs) {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(dir, ec)) {
            const std::string name = entry.path().filename().string();
            if (entry.path().extension() != ".rules" || !seen.insert(name).second) {
                continue;
            }
            files.emplace_back(name, entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    std::vector<ClassRule> rules;
    for (const auto& [name, path] : files) {
        std::ifstream in(path);
        std::string logical;
        std::string raw;
        int lineNumber = 0;
        int start = 0;
        while (std::getline(in, raw)) {
            ++lineNumber;
            if (logical.empty()) {
                start = lineNumber;
            }
            if (!raw.empty() && raw.back() == '\r') {
                raw.pop_back();
            }
            const bool continues = !raw.empty() && raw.back() == '\\';
            if (continues) {
                raw.pop_back();
            }
            if (!logical.empty()) {
                logical += ' ';
            }
            logical += Trim(raw);
            if (continues) {
                continue;
            }
            if (!logical.empty() && logical.front() != '#') {
                ParseRuleLine(path.string(), start, logical, rules);
            }
            logical.clear();
        }
    }
    return rules;
}

std::vector<UsbFinding> CheckUsbDevices(const std::vector<qv::UsbDeviceInfo>& devices,
                                        const std::vector<ClassRule>& rules,
                                        qv::UsbBackend& backend, bool all) {
    std::vector<UsbFinding> findings;
    for (const qv::UsbDeviceInfo& device : devices) {
        if (!all && device.interfaceClass.empty() && !device.bulkPair) {
            continue;
        }
        UsbFinding f;
        f.device = device;
        if (device.interfaceClass.empty()) {
            if (const ClassRule* rule = FindRule(rules, device, false)) {
                f.verdict = UsbVerdict::RuleNotLoaded;
                f.rule = *rule;
            } else {
                f.verdict = UsbVerdict::NoRule;
                f.upperCaseRule = FindRule(rules, device, true) != nullptr;
            }
        } else if (device.interfaceClass != qv::kUsbClassVista &&
                   device.interfaceClass != qv::kUsbClassXp) {
            f.verdict = UsbVerdict::UnknownClass;
        } else {
            unsigned error = 0;
            const qv::UsbHandle h =
                backend.Open(qv::UsbDevicePath(device), qv::UsbShare::ReadWrite, error);
            if (h != qv::kInvalidUsbHandle) {
                backend.Close(h);
                f.verdict = UsbVerdict::Ready;
            } else if (error == qv::kUsbErrorAccessDenied) {
                f.verdict = UsbVerdict::NoSeatAccess;
            } else if (error == qv::kUsbErrorSharingViolation) {
                f.verdict = UsbVerdict::InUse;
            } else if (error == qv::kUsbErrorFileNotFound || error == qv::kUsbErrorDeviceGone) {
                f.verdict = UsbVerdict::NoPipes;
            } else {
                f.verdict = UsbVerdict::CannotOpen;
                f.error = error;
            }
        }
        findings.push_back(std::move(f));
    }
    return findings;
}

std::string FormatUsbReport(const std::vector<UsbFinding>& findings, bool all) {
    std::string out;
    auto line = [&out](const std::string& text) { out += text + "\n"; };
    if (findings.empty()) {
        if (all) {
            line("No USB device found. Is the instrument switched on and plugged in?");
        } else {
            line(
                "No USB device that could be an instrument was found: none has a class from a "
                "rule or a vendor interface with bulk pipes.");
            line(
                "Is the instrument switched on and plugged in? \"qvctl usb --all\" lists every "
                "USB device.");
        }
        return out;
    }
    for (const UsbFinding& f : findings) {
        const qv::UsbDeviceInfo& d = f.device;
        const std::string id = UsbIdText(d.vendor, d.product);
        char where[64];
        std::snprintf(where, sizeof where, "bus %03d device %03d", d.bus, d.address);
        if (!out.empty()) {
            line("");
        }
        // The name is the device's own text: printed with nothing a terminal would act on.
        line(id + "  " + where + (d.name.empty() ? "" : "  " + qv::Printable(d.name)));
        line("  class:  " + (d.interfaceClass.empty()
                                 ? std::string("none")
                                 : qv::Printable(Generation(d.interfaceClass))));
        switch (f.verdict) {
            case UsbVerdict::Ready:
                line("  open:   yes");
                break;
            case UsbVerdict::NoRule:
                line("  open:   no: no rule gives it a class");
                if (f.upperCaseRule) {
                    line(
                        "          (a rule names its ids in upper case: udev compares them "
                        "in lower case)");
                }
                line("  fix:    qvctl usb-rule " + id + " | sudo tee -a " + kRuleFile);
                line("          " + std::string(kReload));
                line("          (an instrument of the older generation: qvctl usb-rule " + id +
                     " --older)");
                break;
            case UsbVerdict::RuleNotLoaded:
                line("  open:   no: the rule in " + f.rule.file + " line " +
                     std::to_string(f.rule.line) + " is not loaded");
                line("  fix:    " + std::string(kReload));
                line("          or unplug the instrument and plug it in again");
                break;
            case UsbVerdict::UnknownClass:
                line("  open:   no: the rule gives a class of no device generation");
                line("  fix:    replace its line with the output of: qvctl usb-rule " + id);
                break;
            case UsbVerdict::NoSeatAccess:
                line("  open:   no: no seat access to " +
                     (d.node.empty() ? std::string("the device") : d.node));
                line(
                    "  fix:    log in at this computer's own screen (the rule gives the person "
                    "there access),");
                line(
                    "          or join group plugdev: sudo adduser \"$USER\" plugdev, then log "
                    "in again");
                break;
            case UsbVerdict::InUse:
                line("  open:   no: another program holds it (a QVRemote window connected to it?)");
                line("  fix:    disconnect or close that program");
                break;
            case UsbVerdict::NoPipes:
                line(
                    "  open:   no: it has no vendor interface with a bulk pipe each way, or it "
                    "went away");
                break;
            case UsbVerdict::CannotOpen:
                line("  open:   no: it cannot be opened (code " + std::to_string(f.error) + ")");
                break;
        }
    }
    return out;
}

int UsbExitStatus(const std::vector<UsbFinding>& findings) {
    return std::any_of(findings.begin(), findings.end(),
                       [](const UsbFinding& f) { return f.verdict == UsbVerdict::Ready; })
               ? 0
               : 1;
}

bool ParseUsbId(std::string_view text, std::uint16_t& vendor, std::uint16_t& product) {
    const auto colon = text.find(':');
    if (colon == std::string_view::npos) {
        return false;
    }
    auto parse = [](std::string_view part, std::uint16_t& out) {
        if (part.empty() || part.size() > 4 || !std::all_of(part.begin(), part.end(), [](char c) {
                return std::isxdigit(static_cast<unsigned char>(c));
            })) {
            return false;
        }
        out = static_cast<std::uint16_t>(std::stoul(std::string(part), nullptr, 16));
        return true;
    };
    return parse(text.substr(0, colon), vendor) && parse(text.substr(colon + 1), product);
}

std::string UsbRuleLine(std::uint16_t vendor, std::uint16_t product, bool older) {
    return "SUBSYSTEM==\"usb\", ENV{DEVTYPE}==\"usb_device\", ATTR{idVendor}==\"" + Hex4(vendor) +
           "\", ATTR{idProduct}==\"" + Hex4(product) + "\", ENV{" + qv::kUdevClassProperty +
           "}=\"" + std::string(older ? qv::kUsbClassXp : qv::kUsbClassVista) +
           "\", TAG+=\"uaccess\", MODE=\"0660\", GROUP=\"plugdev\"";
}

std::string UsbIdText(std::uint16_t vendor, std::uint16_t product) {
    return Hex4(vendor) + ":" + Hex4(product);
}

}  // namespace qvctl
