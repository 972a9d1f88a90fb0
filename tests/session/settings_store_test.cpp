// The settings as another program instance (or a careless hand) leaves them: every value
// spoilt in turn, what Load gives and writes back; the private modes of the user's own store.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>
#include <map>
#include <optional>

#include "session/SettingsStore.h"

namespace qv {
namespace {

class Settings : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
    // A second, independent view of the file, as another program instance has.
    std::unique_ptr<QSettings> Peer() {
        auto s = std::make_unique<QSettings>(dir_.filePath("qv.ini"), QSettings::IniFormat);
        s->beginGroup("Connection");
        return s;
    }
    // Writes values as another instance does; an invalid value removes the name.
    void Seed(std::initializer_list<std::pair<const char*, QVariant>> values) {
        auto s = Peer();
        for (const auto& [name, value] : values) {
            value.isValid() ? s->setValue(name, value) : s->remove(name);
        }
    }
    void SeedValid() {
        Seed({{kSetMethod, 1},
              {kSetScale, 1},
              {kSetQuality, 2},
              {kSetHideKeyBtn, 1},
              {kSetIp, QString("10.1.2.3")},
              {kSetIpv6, QString("fe80::1")}});
    }
    SettingsStore Store() { return SettingsStore(dir_.filePath("qv.ini").toStdString()); }

    QTemporaryDir dir_;
};

TEST_F(Settings, MissingKeyGivesDefaultsAndWritesNothingValidKeyLoadsAsStored) {
    SettingsStore store = Store();
    EXPECT_FALSE(store.KeyExists());
    qv::Settings s = store.Load();
    EXPECT_FALSE(s.keyExisted);
    EXPECT_EQ(s.LinkMethod(), 2) << "a new machine's first Connect is by USB";
    EXPECT_EQ((std::array{s.method, s.scale, s.quality, s.hideKeyBtn, s.autoReconnect}),
              (std::array{2, 0, 0, 0, 1}));
    EXPECT_EQ(s.ip + " " + s.ipv6, "192.168.1.100 0:0:0:0:0:0:0:1");
    EXPECT_EQ(store.StoreInt(kSetScale, 1) + store.StoreText(kSetIp, "1.2.3.4"), 0);
    EXPECT_EQ(store.ScaleOnlyValidate(), 0);
    EXPECT_TRUE(Peer()->allKeys().isEmpty());

    SeedValid();
    s = Store().Load();
    EXPECT_TRUE(s.keyExisted);
    EXPECT_EQ((std::array{s.method, s.scale, s.quality, s.hideKeyBtn}), (std::array{1, 1, 2, 1}));
    EXPECT_EQ(s.ip + " " + s.ipv6, "10.1.2.3 fe80::1");
    // Stores are seen by another reader.
    EXPECT_EQ(Store().StoreInt(kSetQuality, 1) + Store().StoreText(kSetIp, "172.16.0.9"), 2);
    EXPECT_EQ(Peer()->value(kSetQuality).toInt(), 1);
    EXPECT_EQ(Peer()->value(kSetIp).toString(), "172.16.0.9");
}

// Numbers get their default and the store is mended; texts are cut at a zero and to 255
// characters, and a missing or unreadable one gets its default.
TEST_F(Settings, SpoiltValuesLoadAsTheirDefault) {
    struct Case {
        const char* name;
        QVariant stored;  // invalid: missing
        std::string loaded;
        std::optional<QVariant> after = {};  // a number in the store after Load; invalid: missing
    };
    const QVariant none;
    const QString tcp("tcp"), big("4294967297");
    const std::string k255(255, 'a');
    const Case cases[] = {
        {kSetScale, 2, "2", 2},
        {kSetScale, 5, "0", 0},
        {kSetScale, -1, "0", 0},
        {kSetScale, none, "0", 0},
        {kSetScale, QString("big"), "0", 0},
        {kSetScale, QVariant(qlonglong(1) << 32), "0", 0},
        {kSetScale, QString("1.5"), "0", 0},
        {kSetQuality, 3, "0", 0},
        {kSetQuality, QByteArray("\x01\x00\x00\x00", 4), "0", 0},
        {kSetHideKeyBtn, 2, "0", 0},
        // The method is replaced for the session only, never in the store.
        {kSetMethod, 5, "5", 5},
        {kSetMethod, none, "2", none},
        {kSetMethod, tcp, "2", tcp},
        {kSetMethod, big, "2", big},
        // The live rate: 0 Normal, 1 Responsive, 2 Fast; stores from before it stay without.
        {kSetLiveRate, none, "0", none},
        {kSetLiveRate, 2, "2", 2},
        {kSetLiveRate, 3, "0", 0},
        {kSetLiveRate, -1, "0", 0},
        {kSetLiveRate, QString("Fast"), "0", 0},
        // Reconnecting: on unless stored off; nothing is written for it.
        {kSetAutoReconnect, none, "1", none},
        {kSetAutoReconnect, 0, "0", 0},
        {kSetAutoReconnect, 2, "1", 2},
        {kSetIp, QString(""), ""},
        {kSetIp, none, "0.0.0.0"},
        {kSetIpv6, none, "0:0:0:0:0:0:0:1"},
        {kSetIpv6, QString(100000, 'a'), k255},
        {kSetIp, QString(255, 'a'), k255},
        {kSetIp, QString::fromLatin1("10.0.0.1\0", 9), "10.0.0.1"},
        {kSetIpv6, QByteArray("fe80::2\0\xff\xfe junk", 16), "fe80::2"},
        {kSetIp, QByteArray(5000, 'b'), std::string(255, 'b')},
        {kSetIp, QString::fromLatin1("caf\xe9"), "caf\xe9"},
        {kSetIp, QStringList{"a", "b"}, "0.0.0.0"},
    };
    using S = qv::Settings;
    const std::map<std::string, int S::*> field{
        {kSetMethod, &S::method},     {kSetScale, &S::scale},
        {kSetQuality, &S::quality},   {kSetHideKeyBtn, &S::hideKeyBtn},
        {kSetLiveRate, &S::liveRate}, {kSetAutoReconnect, &S::autoReconnect}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.name << " " << c.loaded.substr(0, 20));
        SeedValid();
        Seed({{c.name, c.stored}});
        SettingsStore store = Store();
        const S s = store.Load();
        const std::string name = c.name;
        std::string read;
        if (name == kSetIp || name == kSetIpv6) {
            EXPECT_EQ(name == kSetIp ? s.ip : s.ipv6, c.loaded);
            EXPECT_TRUE(!store.ReadText(c.name, read) || read == c.loaded);
            continue;
        }
        EXPECT_EQ(std::to_string(s.*field.at(name)), c.loaded);
        const QVariant after = Peer()->value(c.name);
        ASSERT_EQ(after.isValid(), c.after->isValid());
        EXPECT_EQ(after.toString(), c.after->toString());
    }
    for (const int method : {0, 4, 5, -3}) {
        Seed({{kSetMethod, method}});
        EXPECT_EQ(Store().Load().LinkMethod(), 2) << "outside 1 to 3 connects by USB: " << method;
    }
    // The scale check at start touches the scale alone.
    Seed({{kSetScale, 7}, {kSetQuality, 9}});
    EXPECT_EQ(Store().ScaleOnlyValidate(), 0);
    EXPECT_EQ(Peer()->value(kSetScale).toInt(), 0);
    EXPECT_EQ(Peer()->value(kSetQuality).toInt(), 9);
}

// The user's own store: the folders it makes and the file are the user's alone; a folder
// that was there before is left as it was.
TEST(SettingsNative, FirstStoreMakesPrivateFolderAndFile) {
    QTemporaryDir dir;
    const QString home = dir.filePath("home"), config = home + "/.config";
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config);
    const auto mode = [](const QString& path) {
        struct stat st {};
        return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0u;
    };
    ASSERT_TRUE(QDir().mkpath(home));
    ::chmod(QFile::encodeName(home).constData(), 0755);
    SettingsStore store;
    EXPECT_EQ(store.Load().method, 2);
    EXPECT_FALSE(QFileInfo::exists(config)) << "reading makes nothing";
    store.StoreCommunication(1, "10.9.8.7", "::5");
    EXPECT_EQ(store.StoreInt(kSetScale, 2), 1);
    const QString file = config + "/Orvane/QVRemote.conf";
    EXPECT_EQ((std::array{mode(config), mode(config + "/Orvane"), mode(file), mode(home)}),
              (std::array{0700u, 0700u, 0600u, 0755u}));
    const qv::Settings s = SettingsStore().Load();
    EXPECT_EQ(s.ip, "10.9.8.7");
    EXPECT_EQ(s.scale, 2);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
}

}  // namespace
}  // namespace qv
