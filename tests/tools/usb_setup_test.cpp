// qvctl usb and usb-rule: the verdict for each kind of device, from a made-up udev listing, rule
// folders written here, and the simulator's USB personality standing for the system backend.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "sim/SimUsbBackend.h"
#include "tools/qvctl/UsbSetup.h"

namespace qvctl {
namespace {

namespace fs = std::filesystem;
using qv::UsbDeviceInfo;

const std::string kVista(qv::kUsbClassVista);
const std::string kXp(qv::kUsbClassXp);

const std::string kShipped = [] {
    std::ifstream in(QV_SOURCE_DIR "/resources/linux/60-qvremote.rules");
    return std::string(std::istreambuf_iterator<char>(in), {});
}();

// Rule folders etc, run and usr under a fresh folder (after one that is missing), and a
// backend with no devices.
struct Rig {
    Rig() {
        std::string name = (fs::temp_directory_path() / "qvctl-usb-XXXXXX").string();
        EXPECT_NE(::mkdtemp(name.data()), nullptr);
        root = name;
        dirs.push_back((root / "missing").string());
        for (const char* dir : {"etc", "run", "usr"}) {
            fs::create_directories(root / dir);
            dirs.push_back((root / dir).string());
        }
        usb.ClearInterfaces();
    }
    ~Rig() { fs::remove_all(root); }
    std::vector<UsbFinding> Check(const std::vector<UsbDeviceInfo>& devices, bool all = false) {
        return CheckUsbDevices(devices, ReadClassRules(dirs), usb, all);
    }

    fs::path root;
    std::vector<std::string> dirs;
    qv::sim::SimInstrument instrument;
    qv::sim::SimUsbBackend usb{instrument};
};

// A device the kernel shows as bus 1, device 4, port 2.
UsbDeviceInfo Device(std::string interfaceClass = {}, bool bulkPair = true) {
    // clang-format off
    return {0x1A2B, 0x3C, 1, 4, "2", "/dev/bus/usb/001/004", "Orvane Analyser", std::move(interfaceClass), bulkPair};
    // clang-format on
}

enum class Usb { None, Newer, Older, Refused, Held };

TEST(UsbSetup, VerdictForEachKindOfDeviceOnlyWhatCouldBeAnInstrumentAndTheRuleToAdd) {
    // clang-format off
    const std::string rule = UsbRuleLine(0x1A2B, 0x3C, false) + "\n", noRule = "no rule gives it a class";
    const std::string upper = "SUBSYSTEM==\"usb\", ATTR{idVendor}==\"1A2B\", ATTR{idProduct}==\"003C\", "
                              "ENV{QVREMOTE_INTERFACE_CLASS}=\"" + kVista + "\"\n";
    const std::string split = "SUBSYSTEM==\"usb\", ATTR{idVendor}==\"9999|1a2b\", \\\n  ATTR{idProduct}"
                              "==\"00*\", ENV{QVREMOTE_INTERFACE_CLASS}:=\"" + kVista + "\"\n";
    // clang-format on
    const struct {
        Usb usb;
        std::vector<std::pair<std::string, std::string>> files;
        UsbDeviceInfo device;
        UsbVerdict verdict;
        std::vector<std::string> says;
    } cases[] = {
        // clang-format off
        {Usb::Newer, {}, Device(kVista), UsbVerdict::Ready,
         {"1a2b:003c  bus 001 device 004  Orvane Analyser", "class:  newer generation (two pipes) " + kVista, "open:   yes"}},
        {Usb::Older, {}, Device(kXp), UsbVerdict::Ready, {"older generation (one handle) " + kXp, "open:   yes"}},
        {Usb::None, {}, Device(), UsbVerdict::NoRule,
         {"class:  none", noRule, "qvctl usb-rule 1a2b:003c | sudo tee -a /etc/udev/rules.d/60-qvremote.rules",
          "qvctl usb-rule 1a2b:003c --older"}},
        {Usb::None, {{"usr/60-qvremote.rules", kShipped}}, Device(), UsbVerdict::NoRule, {noRule}},
        {Usb::None, {{"etc/60-qvremote.rules", "# " + rule}}, Device(), UsbVerdict::NoRule, {noRule}},
        {Usb::None, {{"etc/60-qvremote.rules", upper}}, Device(), UsbVerdict::NoRule, {"names its ids in upper case"}},
        {Usb::None, {{"etc/60-qvremote.rules", "# mine\n\n" + rule}}, Device(), UsbVerdict::RuleNotLoaded,
         {"etc/60-qvremote.rules line 3 is not loaded", "sudo udevadm control --reload", "plug it in again"}},
        {Usb::None, {{"etc/50-folder.rules/", ""}, {"etc/60-qvremote.rules", rule}}, Device(), UsbVerdict::RuleNotLoaded,
         {"etc/60-qvremote.rules line 1 is not loaded"}},
        {Usb::None, {{"run/70-lab.rules", split}}, Device(), UsbVerdict::RuleNotLoaded, {"run/70-lab.rules line 1 is not loaded"}},
        // A file in /etc hides the packaged file of the same name.
        {Usb::None, {{"usr/60-qvremote.rules", rule}, {"etc/60-qvremote.rules", "# emptied\n"}}, Device(), UsbVerdict::NoRule, {noRule}},
        {Usb::None, {{"etc/60-qvremote.rules", UsbRuleLine(0x1A2B, 0x3D, false) + "\n"}}, Device(), UsbVerdict::NoRule, {noRule}},
        {Usb::None, {}, Device("{00000000-0000-0000-0000-000000000000}"), UsbVerdict::UnknownClass,
         {"a class of no device generation", "output of: qvctl usb-rule 1a2b:003c"}},
        {Usb::Refused, {}, Device(kVista), UsbVerdict::NoSeatAccess,
         {"no seat access to /dev/bus/usb/001/004", "sudo adduser \"$USER\" plugdev"}},
        {Usb::Held, {}, Device(kXp), UsbVerdict::InUse, {"another program holds it"}},
        {Usb::None, {}, Device(kVista, false), UsbVerdict::NoPipes, {"no vendor interface with a bulk pipe each way"}},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.says.front());
        Rig rig;
        for (const auto& [file, text] : c.files) {  // a name that ends in '/' is a folder
            file.back() == '/' ? void(fs::create_directory(rig.root / file))
                               : void(std::ofstream(rig.root / file) << text);
        }
        if (c.usb != Usb::None) {
            rig.usb.AddInterface(
                c.usb == Usb::Newer || c.usb == Usb::Refused ? qv::kUsbClassVista : qv::kUsbClassXp,
                "usb:1:2");
        }
        if (unsigned error = 0; c.usb == Usb::Refused) {
            rig.usb.RefuseOpen("usb:1:2", qv::kUsbErrorAccessDenied);
        } else if (c.usb == Usb::Held) {
            ASSERT_NE(rig.usb.Open("usb:1:2", qv::UsbShare::None, error), qv::kInvalidUsbHandle);
        }
        const int held = rig.usb.OpenHandles();
        const auto findings = rig.Check({c.device});
        ASSERT_EQ(findings.size(), 1u);
        EXPECT_EQ(findings[0].verdict, c.verdict);
        const std::string report = FormatUsbReport(findings, false);
        for (const std::string& text : c.says) {
            EXPECT_NE(report.find(text), std::string::npos) << text << " in\n" << report;
        }
        EXPECT_EQ(UsbExitStatus(findings), c.verdict == UsbVerdict::Ready ? 0 : 1);
        EXPECT_EQ(rig.usb.OpenHandles(), held) << "the check closes what it opened";
    }
    Rig rig;
    UsbDeviceInfo mouse = Device({}, false);
    mouse.vendor = 0x046D;
    mouse.address = 2;
    const UsbDeviceInfo ready = Device(kVista);
    rig.usb.AddInterface(qv::kUsbClassVista, "usb:1:2");
    auto findings = rig.Check({mouse, ready});
    ASSERT_EQ(findings.size(), 1u);
    EXPECT_EQ(findings[0].device.vendor, 0x1A2B);
    EXPECT_EQ(UsbExitStatus(findings), 0);
    findings = rig.Check({mouse, ready}, true);
    ASSERT_EQ(findings.size(), 2u);
    const std::string report = FormatUsbReport(findings, true);
    EXPECT_LT(report.find("046d:003c"), report.find("1a2b:003c"));
    EXPECT_EQ(UsbExitStatus(findings), 0);
    findings = rig.Check({mouse});
    EXPECT_EQ(UsbExitStatus(findings), 1);
    EXPECT_NE(FormatUsbReport(findings, false).find("qvctl usb --all"), std::string::npos);
    // The device's own strings reach the terminal with nothing it would act on (Printable's form).
    mouse.name = "Evil\x1b]0;owned\x07\x1b[2J\r\nopen:   yes";
    const std::string evil = FormatUsbReport(rig.Check({mouse}, true), true);
    EXPECT_EQ(evil.find_first_of("\x1b\x07\r"), std::string::npos) << evil;
    EXPECT_EQ(evil.find("\nopen:   yes"), std::string::npos) << "no line forged";
    // The printed rule is the shipped template's (the older line is commented out there), its ids
    // as lsusb prints them: lower-case, four digits, for udev compares them as text.
    std::string shipped = std::regex_replace(kShipped, std::regex("\\\\\n#? *"), "");
    shipped = std::regex_replace(shipped, std::regex("VVVV"), "1a2b");
    shipped = std::regex_replace(shipped, std::regex("PPPP"), "003c");
    EXPECT_NE(shipped.find('\n' + UsbRuleLine(0x1A2B, 0x3C, false) + '\n'), std::string::npos);
    EXPECT_NE(shipped.find("\n#" + UsbRuleLine(0x1A2B, 0x3C, true) + '\n'), std::string::npos);
    EXPECT_NE(UsbRuleLine(1, 1, false).find(kVista), std::string::npos);
    EXPECT_NE(UsbRuleLine(1, 1, true).find(kXp), std::string::npos);
    const std::tuple<const char*, std::uint16_t, std::uint16_t> good[] = {
        {"1a2b:3c4d", 0x1A2B, 0x3C4D},
        {"1A2B:3C4D", 0x1A2B, 0x3C4D},
        {"1:2", 1, 2},
        {"ffff:0000", 0xFFFF, 0}};
    std::uint16_t v = 7, p = 7;
    for (const auto& [text, vendor, product] : good) {
        ASSERT_TRUE(ParseUsbId(text, v, p)) << text;
        EXPECT_EQ(std::pair(v, p), std::pair(vendor, product));
    }
    for (const char* bad : {"", "1a2b", "1a2b:", ":3c4d", "12345:1", "1a2b:3c4d:5", "0x12:0001",
                            " 1a2b:3c4d", "1a2g:0001", "-1:1"}) {
        EXPECT_FALSE(ParseUsbId(bad, v, p)) << bad;
    }
}

}  // namespace
}  // namespace qvctl
