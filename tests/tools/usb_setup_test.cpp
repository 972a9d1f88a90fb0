// qvctl usb and usb-rule: the verdict for each kind of device, from a made-up udev listing,
// rule folders written here, and the simulator's USB personality standing for the system
// backend (what the program itself would open).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
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

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The shipped rule file's lines with their continuations joined, comments kept.
std::vector<std::string> LogicalLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string raw;
    std::string joined;
    while (std::getline(in, raw)) {
        const bool continues = !raw.empty() && raw.back() == '\\';
        if (continues) {
            raw.pop_back();
        }
        if (!joined.empty()) {
            const auto first = raw.find_first_not_of(" #");
            raw = first == std::string::npos ? "" : raw.substr(first);
        }
        joined += raw;
        if (!continues) {
            lines.push_back(joined);
            joined.clear();
        }
    }
    return lines;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    for (auto pos = text.find(from); pos != std::string::npos; pos = text.find(from, pos)) {
        text.replace(pos, from.size(), to);
        pos += to.size();
    }
    return text;
}

TEST(UsbRule, IsTheShippedRuleWithTheDevicesIds) {
    const auto lines = LogicalLines(ReadFile(QV_SOURCE_DIR "/resources/linux/60-qvremote.rules"));
    std::vector<std::string> templates;
    for (const std::string& line : lines) {
        if (line.find("idVendor") != std::string::npos) {
            templates.push_back(line.front() == '#' ? line.substr(1) : line);
        }
    }
    ASSERT_EQ(templates.size(), 2u) << "a newer and an older generation line";
    // lsusb prints lower-case hex with four digits; udev compares the ids as text.
    auto expected = [](std::string line) {
        return Replace(Replace(line, "VVVV", "1a2b"), "PPPP", "003c");
    };
    EXPECT_EQ(UsbRuleLine(0x1A2B, 0x3C, false), expected(templates[0]));
    EXPECT_EQ(UsbRuleLine(0x1A2B, 0x3C, true), expected(templates[1]));
    EXPECT_NE(templates[0].find(kVista), std::string::npos);
    EXPECT_NE(templates[1].find(kXp), std::string::npos);
}

TEST(UsbRule, ReadsVendorAndProductAsLsusbPrintsThem) {
    struct Case {
        const char* text;
        bool ok;
        std::uint16_t vendor;
        std::uint16_t product;
    };
    const Case cases[] = {
        {"1a2b:3c4d", true, 0x1A2B, 0x3C4D},
        {"1A2B:3C4D", true, 0x1A2B, 0x3C4D},
        {"1:2", true, 1, 2},
        {"ffff:0000", true, 0xFFFF, 0},
        {"", false, 0, 0},
        {"1a2b", false, 0, 0},
        {"1a2b:", false, 0, 0},
        {":3c4d", false, 0, 0},
        {"12345:1", false, 0, 0},
        {"1a2b:3c4d:5", false, 0, 0},
        {"0x12:0001", false, 0, 0},
        {" 1a2b:3c4d", false, 0, 0},
        {"1a2g:0001", false, 0, 0},
        {"-1:1", false, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::uint16_t vendor = 7;
        std::uint16_t product = 7;
        ASSERT_EQ(ParseUsbId(c.text, vendor, product), c.ok);
        if (c.ok) {
            EXPECT_EQ(vendor, c.vendor);
            EXPECT_EQ(product, c.product);
        }
    }
}

class UsbReport : public ::testing::Test {
  public:
    void SetUp() override {
        const char* tmp = std::getenv("TMPDIR");
        std::string templ =
            std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/qvctl-usb-XXXXXX";
        ASSERT_NE(mkdtemp(templ.data()), nullptr);
        root_ = templ;
        for (const char* dir : {"etc", "run", "usr"}) {
            fs::create_directories(root_ / dir);
        }
        // A fresh backend: no devices, no refusals, nothing held.
        usb_ = std::make_unique<qv::sim::SimUsbBackend>(instrument_);
        usb_->ClearInterfaces();
    }
    void TearDown() override { fs::remove_all(root_); }

    std::vector<std::string> Dirs() const {
        return {(root_ / "etc").string(), (root_ / "run").string(), (root_ / "usr").string()};
    }
    fs::path Write(const std::string& dir, const std::string& name, const std::string& text) {
        const fs::path path = root_ / dir / name;
        std::ofstream(path) << text;
        return path;
    }
    // A device the kernel shows as bus 1, device 4, port 2.
    static UsbDeviceInfo Device(std::string interfaceClass = {}, bool bulkPair = true) {
        UsbDeviceInfo d;
        d.vendor = 0x1A2B;
        d.product = 0x3C;
        d.bus = 1;
        d.address = 4;
        d.portPath = "2";
        d.node = "/dev/bus/usb/001/004";
        d.name = "Orvane Analyser";
        d.interfaceClass = std::move(interfaceClass);
        d.bulkPair = bulkPair;
        return d;
    }
    std::vector<UsbFinding> Check(const std::vector<UsbDeviceInfo>& devices, bool all = false) {
        return CheckUsbDevices(devices, ReadClassRules(Dirs()), *usb_, all);
    }

    fs::path root_;
    qv::sim::SimInstrument instrument_;
    std::unique_ptr<qv::sim::SimUsbBackend> usb_;
};

TEST_F(UsbReport, VerdictForEachKindOfDevice) {
    const std::string rule = UsbRuleLine(0x1A2B, 0x3C, false);
    struct Case {
        const char* name;
        std::function<void(UsbReport&)> arrange;
        UsbDeviceInfo device;
        UsbVerdict verdict;
        std::vector<std::string> says;
    };
    const Case cases[] = {
        {"rule applied, device opens",
         [](UsbReport& t) { t.usb_->AddInterface(qv::kUsbClassVista, "usb:1:2"); },
         Device(kVista),
         UsbVerdict::Ready,
         {"1a2b:003c  bus 001 device 004  Orvane Analyser",
          "class:  newer generation (two pipes) " + kVista, "open:   yes"}},
        {"older generation opens",
         [](UsbReport& t) { t.usb_->AddInterface(qv::kUsbClassXp, "usb:1:2"); },
         Device(kXp),
         UsbVerdict::Ready,
         {"older generation (one handle) " + kXp, "open:   yes"}},
        {"no rule anywhere",
         [](UsbReport&) {},
         Device(),
         UsbVerdict::NoRule,
         {"class:  none", "no rule gives it a class",
          "qvctl usb-rule 1a2b:003c | sudo tee -a /etc/udev/rules.d/60-qvremote.rules",
          "qvctl usb-rule 1a2b:003c --older"}},
        {"the shipped rule with its placeholder ids",
         [](UsbReport& t) {
             t.Write("usr", "60-qvremote.rules",
                     ReadFile(QV_SOURCE_DIR "/resources/linux/60-qvremote.rules"));
         },
         Device(),
         UsbVerdict::NoRule,
         {"no rule gives it a class"}},
        {"a commented-out rule",
         [&](UsbReport& t) { t.Write("etc", "60-qvremote.rules", "# " + rule + "\n"); },
         Device(),
         UsbVerdict::NoRule,
         {"no rule gives it a class"}},
        {"a rule with upper-case ids",
         [](UsbReport& t) {
             t.Write("etc", "60-qvremote.rules",
                     "SUBSYSTEM==\"usb\", ATTR{idVendor}==\"1A2B\", ATTR{idProduct}==\"003C\", "
                     "ENV{QVREMOTE_INTERFACE_CLASS}=\"" +
                         kVista + "\"\n");
         },
         Device(),
         UsbVerdict::NoRule,
         {"names its ids in upper case"}},
        {"rule written, udev not reloaded",
         [&](UsbReport& t) { t.Write("etc", "60-qvremote.rules", "# mine\n\n" + rule + "\n"); },
         Device(),
         UsbVerdict::RuleNotLoaded,
         {"etc/60-qvremote.rules line 3 is not loaded", "sudo udevadm control --reload",
          "plug it in again"}},
        {"rule split over lines, ids as alternatives",
         [](UsbReport& t) {
             t.Write("run", "70-lab.rules",
                     "SUBSYSTEM==\"usb\", ATTR{idVendor}==\"9999|1a2b\", \\\n"
                     "  ATTR{idProduct}==\"00*\", ENV{QVREMOTE_INTERFACE_CLASS}:=\"" +
                         kVista + "\"\n");
         },
         Device(),
         UsbVerdict::RuleNotLoaded,
         {"run/70-lab.rules line 1 is not loaded"}},
        {"a file in /etc hides the packaged file of the same name",
         [&](UsbReport& t) {
             t.Write("usr", "60-qvremote.rules", rule + "\n");
             t.Write("etc", "60-qvremote.rules", "# emptied by the administrator\n");
         },
         Device(),
         UsbVerdict::NoRule,
         {"no rule gives it a class"}},
        {"a rule for another product",
         [](UsbReport& t) {
             t.Write("etc", "60-qvremote.rules", UsbRuleLine(0x1A2B, 0x3D, false) + "\n");
         },
         Device(),
         UsbVerdict::NoRule,
         {"no rule gives it a class"}},
        {"a class of no generation",
         [](UsbReport&) {},
         Device("{00000000-0000-0000-0000-000000000000}"),
         UsbVerdict::UnknownClass,
         {"a class of no device generation", "output of: qvctl usb-rule 1a2b:003c"}},
        {"not the person at the seat",
         [](UsbReport& t) {
             t.usb_->AddInterface(qv::kUsbClassVista, "usb:1:2");
             t.usb_->RefuseOpen("usb:1:2", qv::kUsbErrorAccessDenied);
         },
         Device(kVista),
         UsbVerdict::NoSeatAccess,
         {"no seat access to /dev/bus/usb/001/004", "sudo adduser \"$USER\" plugdev"}},
        {"another program holds it",
         [](UsbReport& t) {
             t.usb_->AddInterface(qv::kUsbClassXp, "usb:1:2");
             unsigned error = 0;
             ASSERT_NE(t.usb_->Open("usb:1:2", qv::UsbShare::None, error), qv::kInvalidUsbHandle);
         },
         Device(kXp),
         UsbVerdict::InUse,
         {"another program holds it"}},
        {"class given, no bulk pipes",
         [](UsbReport&) {},
         Device(kVista, false),
         UsbVerdict::NoPipes,
         {"no vendor interface with a bulk pipe each way"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        c.arrange(*this);
        const int heldBefore = usb_->OpenHandles();
        const auto findings = Check({c.device});
        ASSERT_EQ(findings.size(), 1u);
        EXPECT_EQ(findings[0].verdict, c.verdict);
        const std::string report = FormatUsbReport(findings, false);
        for (const std::string& text : c.says) {
            EXPECT_NE(report.find(text), std::string::npos) << text << " in\n" << report;
        }
        EXPECT_EQ(UsbExitStatus(findings), c.verdict == UsbVerdict::Ready ? 0 : 1);
        // The check opens the device as the program would, and closes it again.
        EXPECT_EQ(usb_->OpenHandles(), heldBefore);
    }
}

TEST_F(UsbReport, ListsOnlyWhatCouldBeAnInstrument) {
    UsbDeviceInfo mouse = Device({}, false);
    mouse.vendor = 0x046D;
    mouse.address = 2;
    mouse.name = "Mouse";
    UsbDeviceInfo ready = Device(kVista);
    usb_->AddInterface(qv::kUsbClassVista, "usb:1:2");

    auto findings = Check({mouse, ready});
    ASSERT_EQ(findings.size(), 1u);
    EXPECT_EQ(findings[0].device.vendor, 0x1A2B);
    EXPECT_EQ(UsbExitStatus(findings), 0);

    findings = Check({mouse, ready}, true);
    ASSERT_EQ(findings.size(), 2u);
    EXPECT_EQ(findings[0].verdict, UsbVerdict::NoRule);
    const std::string report = FormatUsbReport(findings, true);
    EXPECT_LT(report.find("046d:003c"), report.find("1a2b:003c"));
    EXPECT_EQ(UsbExitStatus(findings), 0);

    findings = Check({mouse});
    EXPECT_TRUE(findings.empty());
    EXPECT_EQ(UsbExitStatus(findings), 1);
    EXPECT_NE(FormatUsbReport(findings, false).find("qvctl usb --all"), std::string::npos);
}

TEST_F(UsbReport, UnreadableRuleFilesAndFoldersAreSkipped) {
    Write("etc", "60-qvremote.rules", UsbRuleLine(0x1A2B, 0x3C, false) + "\n");
    fs::create_directory(root_ / "etc" / "50-folder.rules");
    std::vector<std::string> dirs = Dirs();
    dirs.insert(dirs.begin(), (root_ / "missing").string());
    const auto rules = ReadClassRules(dirs);
    ASSERT_EQ(rules.size(), 1u);
    EXPECT_EQ(rules[0].vendor, "1a2b");
    EXPECT_EQ(rules[0].product, "003c");
    EXPECT_EQ(rules[0].interfaceClass, kVista);
    EXPECT_EQ(rules[0].line, 1);
}

}  // namespace
}  // namespace qvctl
