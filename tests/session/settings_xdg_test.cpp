// The user's settings when a system-wide file gives the key (XDG_CONFIG_DIRS, as
// /etc/xdg/Orvane/QVRemote.conf does): the first write makes the user's file, and it and the
// folders made for it are the user's alone under an ordinary umask. Runs with
// XDG_CONFIG_DIRS and XDG_CONFIG_HOME pointing into its temporary folder (CMakeLists.txt).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "session/SettingsStore.h"
#include "tests/TestFiles.h"

namespace qv {
namespace {

namespace fs = std::filesystem;

std::string Env(const char* name) {
    const char* value = std::getenv(name);  // NOLINT(concurrency-mt-unsafe): no threads yet
    return value != nullptr ? value : "";
}

TEST(SettingsSystemWide, FirstWriteMakesThePrivateUserFileWhenASystemFileGivesTheKey) {
    const fs::path system = Env("XDG_CONFIG_DIRS"), home = Env("XDG_CONFIG_HOME");
    ASSERT_FALSE(system.empty() || home.empty()) << "run through ctest";
    fs::remove_all(system);
    fs::remove_all(home.parent_path());
    ASSERT_TRUE(fs::create_directories(system / "Orvane"));
    ASSERT_TRUE(fs::create_directories(home.parent_path()));
    ::chmod(home.parent_path().c_str(), 0755);
    std::ofstream(system / "Orvane" / "QVRemote.conf")
        << "[Connection]\nMethod=1\nIP=10.20.30.40\nScale=5\n";
    ::umask(022);

    SettingsStore store;
    EXPECT_TRUE(store.KeyExists()) << "the system file gives the key";
    const fs::path user = home / "Orvane" / "QVRemote.conf";
    EXPECT_FALSE(fs::exists(user));
    // Load mends the scale: the first write, which makes the user's file.
    const Settings s = store.Load();
    EXPECT_EQ(s.LinkMethod(), 1);
    EXPECT_EQ(s.ip, "10.20.30.40");
    EXPECT_EQ(s.scale, 0);
    EXPECT_EQ(FileMode(user), S_IFREG | 0600u);
    EXPECT_EQ(FileMode(home / "Orvane"), S_IFDIR | 0700u);
    EXPECT_EQ(FileMode(home), S_IFDIR | 0700u);
    EXPECT_EQ(FileMode(home.parent_path()), S_IFDIR | 0755u) << "a folder that was there stays";
    EXPECT_NE(ReadAll(user).find("Scale=0"), std::string::npos) << ReadAll(user);
    // Later writes keep it so; the system file is only read.
    EXPECT_EQ(store.StoreInt(kSetQuality, 2), 1);
    EXPECT_EQ(FileMode(user), S_IFREG | 0600u);
    EXPECT_EQ(SettingsStore().Load().quality, 2);
    EXPECT_EQ(ReadAll(system / "Orvane" / "QVRemote.conf"),
              "[Connection]\nMethod=1\nIP=10.20.30.40\nScale=5\n");
}

// With no file anywhere reading makes nothing; the Communication dialog's first store makes
// the key, and the file and its folder are private too.
TEST(SettingsSystemWide, WithNoFileReadingMakesNothingAndTheFirstStoreIsPrivate) {
    const fs::path home = Env("XDG_CONFIG_HOME");
    fs::remove_all(Env("XDG_CONFIG_DIRS"));
    fs::remove_all(home);
    ::umask(022);
    SettingsStore store;
    EXPECT_EQ(store.Load().method, 2);
    EXPECT_FALSE(fs::exists(home)) << "reading makes nothing";
    store.StoreCommunication(1, "10.9.8.7", "::5");
    EXPECT_EQ(FileMode(home / "Orvane" / "QVRemote.conf"), S_IFREG | 0600u);
    EXPECT_EQ(FileMode(home / "Orvane"), S_IFDIR | 0700u);
    EXPECT_EQ(SettingsStore().Load().ip, "10.9.8.7");
}

}  // namespace
}  // namespace qv
