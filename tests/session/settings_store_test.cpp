#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>
#include <string>

#include "session/SettingsStore.h"

namespace qv {
namespace {

class SettingsStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        path_ = dir_.filePath("qvremote.ini");
    }

    // A second, independent view of the same file, as another program instance has.
    std::unique_ptr<QSettings> Peer() {
        auto s = std::make_unique<QSettings>(path_, QSettings::IniFormat);
        s->beginGroup("Connection");
        return s;
    }

    // Values as another program instance writes them; an invalid value removes the name.
    void Seed(std::initializer_list<std::pair<const char*, QVariant>> values) {
        auto s = Peer();
        for (const auto& [name, value] : values) {
            if (value.isValid()) {
                s->setValue(name, value);
            } else {
                s->remove(name);
            }
        }
        s->sync();
    }
    void Seed(const char* name, const QVariant& value) { Seed({{name, value}}); }

    // A complete, valid key, in one write; cases then spoil one value.
    void SeedValid() {
        Seed({{kSetMethod, 1},
              {kSetScale, 1},
              {kSetQuality, 2},
              {kSetHideKeyBtn, 1},
              {kSetIp, QString("10.1.2.3")},
              {kSetIpv6, QString("fe80::1")}});
    }

    SettingsStore Store() { return SettingsStore(path_.toStdString()); }

    QTemporaryDir dir_;
    QString path_;
};

TEST_F(SettingsStoreTest, MissingKeyGivesBuiltInDefaultsAndWritesNothing) {
    SettingsStore store = Store();
    EXPECT_FALSE(store.KeyExists());
    const Settings s = store.Load();
    EXPECT_FALSE(s.keyExisted);
    EXPECT_EQ(s.method, 2);
    EXPECT_EQ(s.LinkMethod(), 2);  // first Connect on a new machine is by USB
    EXPECT_EQ(s.scale, 0);
    EXPECT_EQ(s.quality, 0);
    EXPECT_EQ(s.hideKeyBtn, 0);
    EXPECT_EQ(s.ip, kDefaultIpv4);
    EXPECT_EQ(s.ipv6, "0:0:0:0:0:0:0:1");

    EXPECT_EQ(store.StoreInt(kSetScale, 1), 0);
    EXPECT_EQ(store.StoreText(kSetIp, "1.2.3.4"), 0);
    EXPECT_EQ(store.ScaleOnlyValidate(), 0);
    EXPECT_FALSE(store.KeyExists());
    EXPECT_TRUE(Peer()->allKeys().isEmpty());
}

TEST_F(SettingsStoreTest, ValidKeyLoadsAsStored) {
    SeedValid();
    const Settings s = Store().Load();
    EXPECT_TRUE(s.keyExisted);
    EXPECT_EQ(s.method, 1);
    EXPECT_EQ(s.scale, 1);
    EXPECT_EQ(s.quality, 2);
    EXPECT_EQ(s.hideKeyBtn, 1);
    EXPECT_EQ(s.ip, "10.1.2.3");
    EXPECT_EQ(s.ipv6, "fe80::1");
}

// One number value spoilt; what Load gives and what the store holds afterwards.
struct NumberCase {
    const char* label;
    const char* name;
    QVariant stored;  // invalid: the value is missing
    int loaded;       // field of the same name after Load
    QVariant after;   // invalid: still missing
};

void PrintTo(const NumberCase& c, std::ostream* os) {
    *os << c.label;
}

class SettingsNumbers : public SettingsStoreTest,
                        public ::testing::WithParamInterface<NumberCase> {};

int Field(const Settings& s, const std::string& name) {
    if (name == kSetMethod)
        return s.method;
    if (name == kSetScale)
        return s.scale;
    if (name == kSetQuality)
        return s.quality;
    if (name == kSetLiveRate)
        return s.liveRate;
    return s.hideKeyBtn;
}

TEST_P(SettingsNumbers, DefaultAndWriteBack) {
    const NumberCase& c = GetParam();
    SeedValid();
    Seed(c.name, c.stored);
    const Settings s = Store().Load();
    EXPECT_EQ(Field(s, c.name), c.loaded);
    const QVariant after = Peer()->value(c.name);
    ASSERT_EQ(after.isValid(), c.after.isValid());
    if (c.after.isValid()) {
        EXPECT_EQ(after.toString(), c.after.toString());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, SettingsNumbers,
    ::testing::Values(
        NumberCase{"ScaleTwoKept", kSetScale, 2, 2, 2},
        NumberCase{"ScaleFiveReplaced", kSetScale, 5, 0, 0},
        NumberCase{"ScaleNegativeReplaced", kSetScale, -1, 0, 0},
        NumberCase{"ScaleMissingWritten", kSetScale, QVariant(), 0, 0},
        NumberCase{"ScaleTextReplaced", kSetScale, QString("big"), 0, 0},
        NumberCase{"ScaleBeyond32Bits", kSetScale, QVariant(qlonglong(1) << 32), 0, 0},
        NumberCase{"ScaleFraction", kSetScale, QString("1.5"), 0, 0},
        NumberCase{"ScaleList", kSetScale, QStringList{"1", "2"}, 0, 0},
        NumberCase{"QualityThreeReplaced", kSetQuality, 3, 0, 0},
        NumberCase{"QualityOneKept", kSetQuality, 1, 1, 1},
        NumberCase{"QualityBinaryReplaced", kSetQuality, QByteArray("\x01\x00\x00\x00", 4), 0, 0},
        NumberCase{"HideKeyBtnTwoReplaced", kSetHideKeyBtn, 2, 0, 0},
        NumberCase{"HideKeyBtnZeroKept", kSetHideKeyBtn, 0, 0, 0},
        // The method is replaced for the session only, never in the store.
        NumberCase{"MethodFiveKeptInStore", kSetMethod, 5, 5, 5},
        NumberCase{"MethodThree", kSetMethod, 3, 3, 3},
        NumberCase{"MethodMissingNotWritten", kSetMethod, QVariant(), 2, QVariant()},
        NumberCase{"MethodTextNotWritten", kSetMethod, QString("tcp"), 2, QString("tcp")},
        NumberCase{"MethodBeyond32Bits", kSetMethod, QString("4294967297"), 2,
                   QString("4294967297")},
        // The live rate: 0 Normal, 1 Responsive, 2 Fast. Stores from before it stay without.
        NumberCase{"LiveRateMissingNotWritten", kSetLiveRate, QVariant(), 0, QVariant()},
        NumberCase{"LiveRateFastKept", kSetLiveRate, 2, 2, 2},
        NumberCase{"LiveRateResponsiveKept", kSetLiveRate, 1, 1, 1},
        NumberCase{"LiveRateThreeReplaced", kSetLiveRate, 3, 0, 0},
        NumberCase{"LiveRateTextReplaced", kSetLiveRate, QString("Fast"), 0, 0}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(SettingsStoreTest, MethodOutsideRangeConnectsByUsb) {
    SeedValid();
    for (int stored : {0, 4, 5, -3}) {
        Seed(kSetMethod, stored);
        EXPECT_EQ(Store().Load().LinkMethod(), 2) << stored;
    }
    Seed(kSetMethod, 3);
    EXPECT_EQ(Store().Load().LinkMethod(), 3);
}

struct TextCase {
    const char* label;
    const char* name;
    QVariant stored;
    std::string loaded;
};

void PrintTo(const TextCase& c, std::ostream* os) {
    *os << c.label;
}

class SettingsTexts : public SettingsStoreTest, public ::testing::WithParamInterface<TextCase> {};

TEST_P(SettingsTexts, CutAndDefault) {
    const TextCase& c = GetParam();
    SeedValid();
    Seed(c.name, c.stored);
    SettingsStore store = Store();
    const Settings s = store.Load();
    EXPECT_EQ(std::string(c.name) == kSetIp ? s.ip : s.ipv6, c.loaded);
    std::string read;
    if (store.ReadText(c.name, read)) {
        EXPECT_EQ(read, c.loaded);
    }
}

const std::string k255(255, 'a');

INSTANTIATE_TEST_SUITE_P(
    Table, SettingsTexts,
    ::testing::Values(
        TextCase{"Plain", kSetIp, QString("192.168.1"), "192.168.1"},
        TextCase{"Empty", kSetIp, QString(""), ""},
        TextCase{"IpMissing", kSetIp, QVariant(), "0.0.0.0"},
        TextCase{"Ipv6Missing", kSetIpv6, QVariant(), "0:0:0:0:0:0:0:1"},
        TextCase{"LongCutTo255", kSetIpv6, QString(100000, 'a'), k255},
        TextCase{"Exactly255", kSetIp, QString(255, 'a'), k255},
        TextCase{"StoredTerminator", kSetIp, QString::fromLatin1("10.0.0.1\0", 9), "10.0.0.1"},
        TextCase{"BinaryCutAtZero", kSetIpv6, QByteArray("fe80::2\0\xff\xfe junk", 16), "fe80::2"},
        TextCase{"LongBinaryCut", kSetIp, QByteArray(5000, 'b'), std::string(255, 'b')},
        TextCase{"SingleByteText", kSetIp, QString::fromLatin1("caf\xe9"), "caf\xe9"},
        TextCase{"ListIsNoText", kSetIp, QStringList{"a", "b"}, "0.0.0.0"},
        TextCase{"Forty", kSetIpv6, QString("2001:0db8:0000:0000:0000:ff00:0042:8329"),
                 "2001:0db8:0000:0000:0000:ff00:0042:8329"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(SettingsStoreTest, StoresAreSeenByAnotherReader) {
    SeedValid();
    SettingsStore store = Store();
    EXPECT_EQ(store.StoreInt(kSetQuality, 1), 1);
    EXPECT_EQ(store.StoreInt(kSetHideKeyBtn, 0), 1);
    EXPECT_EQ(store.StoreText(kSetIp, "172.16.0.9"), 1);
    auto peer = Peer();
    EXPECT_EQ(peer->value(kSetQuality).toInt(), 1);
    EXPECT_EQ(peer->value(kSetHideKeyBtn).toInt(), 0);
    EXPECT_EQ(peer->value(kSetIp).toString(), "172.16.0.9");
    const Settings s = store.Load();
    EXPECT_EQ(s.quality, 1);
    EXPECT_EQ(s.ip, "172.16.0.9");
}

TEST_F(SettingsStoreTest, ScaleOnlyValidateTouchesScaleAlone) {
    SeedValid();
    Seed(kSetScale, 7);
    Seed(kSetQuality, 9);
    SettingsStore store = Store();
    EXPECT_EQ(store.ScaleOnlyValidate(), 0);
    EXPECT_EQ(Peer()->value(kSetScale).toInt(), 0);
    EXPECT_EQ(Peer()->value(kSetQuality).toInt(), 9);
    Seed(kSetScale, 2);
    EXPECT_EQ(store.ScaleOnlyValidate(), 2);
}

struct CommCase {
    const char* label;
    int method;
    const char* pane;
    bool writesIp;
    bool writesIpv6;
};

void PrintTo(const CommCase& c, std::ostream* os) {
    *os << c.label;
}

class SettingsCommunication : public SettingsStoreTest,
                              public ::testing::WithParamInterface<CommCase> {};

TEST_P(SettingsCommunication, KeyPresentWritesMethodAndItsAddress) {
    const CommCase& c = GetParam();
    SeedValid();
    const CommunicationResult r = Store().StoreCommunication(c.method, "10.9.8.7", "::5");
    EXPECT_TRUE(r.paneChanged);
    EXPECT_EQ(r.paneText, c.pane);
    auto peer = Peer();
    EXPECT_EQ(peer->value(kSetMethod).toInt(), c.method);
    EXPECT_EQ(peer->value(kSetIp).toString(), c.writesIp ? "10.9.8.7" : "10.1.2.3");
    EXPECT_EQ(peer->value(kSetIpv6).toString(), c.writesIpv6 ? "::5" : "fe80::1");
}

TEST_P(SettingsCommunication, FirstUseCreatesKeyAndLeavesPane) {
    const CommCase& c = GetParam();
    SettingsStore store = Store();
    ASSERT_FALSE(store.KeyExists());
    const CommunicationResult r = store.StoreCommunication(c.method, "10.9.8.7", "::5");
    EXPECT_FALSE(r.paneChanged);

    // The next start finds the key with the method and the address.
    SettingsStore next = Store();
    ASSERT_TRUE(next.KeyExists());
    const Settings s = next.Load();
    EXPECT_TRUE(s.keyExisted);
    EXPECT_EQ(s.method, c.method);
    EXPECT_EQ(s.ip, c.writesIp ? "10.9.8.7" : "0.0.0.0");
    EXPECT_EQ(s.ipv6, c.writesIpv6 ? "::5" : "0:0:0:0:0:0:0:1");
    // Load completed the key with the validated numbers.
    EXPECT_EQ(Peer()->value(kSetScale).toInt(), 0);
}

INSTANTIATE_TEST_SUITE_P(Table, SettingsCommunication,
                         ::testing::Values(CommCase{"Ipv4", 1, "TCP/IP : 10.9.8.7", true, false},
                                           CommCase{"Usb", 2, "USB", false, false},
                                           CommCase{"Ipv6", 3, "IPv6 : ::5", false, true}),
                         [](const auto& info) { return std::string(info.param.label); });

// The user's own store: the folders it needs and the file are the user's alone, so no one
// else can read the addresses or put a link in their place.
TEST(SettingsStoreNative, FirstStoreMakesPrivateFolderAndFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString config = dir.filePath("home/.config");
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config);
    auto mode = [](const QString& path) {
        struct stat st {};
        return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0u;
    };
    ASSERT_TRUE(QDir().mkpath(dir.filePath("home")));
    ::chmod(QFile::encodeName(dir.filePath("home")).constData(), 0755);

    SettingsStore store;
    EXPECT_FALSE(store.KeyExists());
    EXPECT_EQ(store.Load().method, 2);  // reading makes nothing
    EXPECT_FALSE(QFileInfo::exists(config));
    store.StoreCommunication(1, "10.9.8.7", "::5");
    const QString file = config + "/Orvane/QVRemote.conf";
    EXPECT_EQ(mode(config), 0700u);
    EXPECT_EQ(mode(config + "/Orvane"), 0700u);
    EXPECT_EQ(mode(file), 0600u);
    EXPECT_EQ(mode(dir.filePath("home")), 0755u);  // there before: left as it was
    // Rewrites keep the mode.
    EXPECT_EQ(store.StoreInt(kSetScale, 2), 1);
    EXPECT_EQ(mode(file), 0600u);
    const Settings s = SettingsStore().Load();
    EXPECT_EQ(s.method, 1);
    EXPECT_EQ(s.ip, "10.9.8.7");
    EXPECT_EQ(s.scale, 2);

    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
}

}  // namespace
}  // namespace qv
