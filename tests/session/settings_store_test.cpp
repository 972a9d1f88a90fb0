// The files the session keeps: the settings as another program instance (or a careless hand)
// leaves them; the activity log's lines and writers; the private modes of the store, the log
// and the frame file, which a planted link cannot redirect.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <thread>

#include "link/Files.h"
#include "session/ActivityLog.h"
#include "session/FrameFile.h"
#include "session/SettingsStore.h"
#include "tests/TestFiles.h"

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

TEST_F(Settings, MissingKeyGivesDefaultsValidKeyLoadsAsStoredSpoiltValuesAsTheirDefault) {
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
    // Numbers get their default and the store is mended; texts are cut at a zero and to 255
    // characters, and a missing or unreadable one gets its default.
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
        // Each range at its edges: the last value in, the first one out, both ends.
        {kSetScale, 0, "0", 0},
        {kSetScale, 2, "2", 2},
        {kSetScale, 3, "0", 0},
        {kSetScale, -1, "0", 0},
        {kSetScale, none, "0", 0},
        {kSetScale, QString("1.5"), "0", 0},
        {kSetQuality, 0, "0", 0},
        {kSetQuality, 3, "0", 0},
        {kSetQuality, -1, "0", 0},
        {kSetQuality, QByteArray("\x01\x00\x00\x00", 4), "0", 0},
        {kSetHideKeyBtn, 2, "0", 0},
        {kSetHideKeyBtn, -1, "0", 0},
        {kSetHideKeyBtn, 0, "0", 0},
        // The method is replaced for the session only, never in the store.
        {kSetMethod, 5, "5", 5},
        {kSetMethod, 3, "3", 3},
        {kSetMethod, none, "2", none},
        {kSetMethod, tcp, "2", tcp},
        {kSetMethod, big, "2", big},
        // The live rate: 0 Normal, 1 Responsive, 2 Fast; stores from before it stay without.
        {kSetLiveRate, none, "0", none},
        {kSetLiveRate, 0, "0", 0},
        {kSetLiveRate, 2, "2", 2},
        {kSetLiveRate, 3, "0", 0},
        {kSetLiveRate, -1, "0", 0},
        // Reconnecting: on unless stored off; nothing is written for it.
        {kSetAutoReconnect, none, "1", none},
        {kSetAutoReconnect, 0, "0", 0},
        {kSetAutoReconnect, 2, "1", 2},
        {kSetAutoReconnect, -1, "1", -1},
        {kSetIp, QString(""), ""},
        {kSetIp, none, "0.0.0.0"},
        {kSetIpv6, none, "0:0:0:0:0:0:0:1"},
        {kSetIp, QString(255, 'a'), k255},
        {kSetIp, QString(256, 'a'), k255},
        {kSetIpv6, QByteArray(256, 'c'), std::string(255, 'c')},
        {kSetIp, QString::fromLatin1("10.0.0.1\0", 9), "10.0.0.1"},
        {kSetIpv6, QByteArray("fe80::2\0\xff\xfe junk", 16), "fe80::2"},
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
    for (const auto& [method, by] : {std::pair{0, 2}, {4, 2}, {5, 2}, {-3, 2}, {1, 1}, {3, 3}}) {
        Seed({{kSetMethod, method}});
        EXPECT_EQ(Store().Load().LinkMethod(), by) << "outside 1 to 3 connects by USB: " << method;
    }
    // The scale check at start touches the scale alone.
    Seed({{kSetScale, 3}, {kSetQuality, 9}});
    EXPECT_EQ(Store().ScaleOnlyValidate(), 0);
    EXPECT_EQ(Peer()->value(kSetScale).toInt(), 0);
    EXPECT_EQ(Peer()->value(kSetQuality).toInt(), 9);
    Seed({{kSetScale, 2}});
    EXPECT_EQ(Store().ScaleOnlyValidate(), 2);
}

// The user's settings when a system-wide file gives the key (XDG_CONFIG_DIRS, as
// /etc/xdg/Orvane/QVRemote.conf does): reading makes nothing, the first write makes the user's
// file, and it and the folders made for it are the user's alone under an ordinary umask. The
// test runs with XDG_CONFIG_DIRS and XDG_CONFIG_HOME in its temporary folder (CMakeLists.txt).
TEST(SettingsSystemWide, FirstWriteMakesThePrivateUserFileTheSystemOneIsOnlyRead) {
    namespace fs = std::filesystem;
    const char* dirs = std::getenv("XDG_CONFIG_DIRS");    // NOLINT(concurrency-mt-unsafe)
    const char* config = std::getenv("XDG_CONFIG_HOME");  // NOLINT(concurrency-mt-unsafe)
    ASSERT_TRUE(dirs != nullptr && config != nullptr) << "run through ctest";
    const fs::path system = dirs, home = config, user = home / "Orvane" / "QVRemote.conf";
    fs::remove_all(system);
    fs::remove_all(home.parent_path());
    ASSERT_TRUE(fs::create_directories(home.parent_path()));
    ::chmod(home.parent_path().c_str(), 0755);
    ::umask(022);
    EXPECT_EQ(SettingsStore().Load().method, 2);
    EXPECT_FALSE(fs::exists(home)) << "reading makes nothing";

    const std::string given = "[Connection]\nMethod=1\nIP=10.20.30.40\nScale=5\n";
    ASSERT_TRUE(fs::create_directories(system / "Orvane"));
    std::ofstream(system / "Orvane" / "QVRemote.conf") << given;
    SettingsStore store;
    EXPECT_TRUE(store.KeyExists()) << "the system file gives the key";
    EXPECT_FALSE(fs::exists(user));
    // Load mends the scale: the first write, which makes the user's file.
    const qv::Settings s = store.Load();
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
    store.StoreCommunication(1, "10.9.8.7", "::5");
    EXPECT_EQ(FileMode(user), S_IFREG | 0600u);
    EXPECT_EQ(SettingsStore().Load().quality, 2);
    EXPECT_EQ(SettingsStore().Load().ip, "10.9.8.7");
    EXPECT_EQ(ReadAll(system / "Orvane" / "QVRemote.conf"), given);
}

std::vector<std::string> SplitCrLf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t pos; (pos = text.find("\r\n", start)) != std::string::npos; start = pos + 2) {
        lines.push_back(text.substr(start, pos - start));
    }
    EXPECT_EQ(start, text.size()) << "text after the last CR LF";
    return lines;
}

class Log : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(tmp_.isValid()); }
    void TearDown() override { log_.Close(); }
    QTemporaryDir tmp_;
    const std::string dir_ = tmp_.path().toStdString();
    ActivityLog& log_ = ActivityLog::Instance();
};

// The log's lines and name, and the frame files written beside it: nothing planted (another
// program's log, a link, a folder, another user's frame) is written through or lost, and a
// frame that cannot be written whole (the rename refused, the disk full) says so in the log
// and keeps the last one; a frame exactly at the disk's limit is written.
TEST_F(Log, LinesAndFramesArePrivateAndPassOverWhatIsPlantedOrRefused) {
    const std::tm t{9, 8, 7, 5, 2, 124, 0, 0, 0, 0, nullptr};  // 2024-03-05 07:08:09
    EXPECT_EQ(ActivityLog::FileName(t), "20240305_070809_log.txt");
    // Stamp, three blanks, the message as given (a line feed kept before CR LF), CR LF.
    // An instrument's text (a model name, a command from a viewer) is written escaped.
    const std::pair<const char*, const char*> formats[] = {
        {"Disconnect", "2024-03-05 07:08:09   Disconnect\r\n"},
        {"KEYP:MODE\n", "2024-03-05 07:08:09   KEYP:MODE\n\r\n"},
        {"QV\x1b]0;owned\x07\x1b[2J", "2024-03-05 07:08:09   QV\\x1b]0;owned\\x07\\x1b[2J\r\n"},
        {"KEYP\r\x1b[1A\n", "2024-03-05 07:08:09   KEYP\\x0d\\x1b[1A\n\r\n"},
        {"\n\n", "2024-03-05 07:08:09   \\x0a\n\r\n"},
    };
    for (const auto& [message, line] : formats) {
        EXPECT_EQ(ActivityLog::FormatLine(t, message), line);
    }
    // The name is the opening second. Another program's log opened in this second (or the next
    // few) and a link planted under the next name are passed over.
    const std::string victim = dir_ + "/victim", frame = dir_ + "/frame.jpg";
    std::ofstream(victim) << "keep";
    std::vector<std::string> theirs;
    for (std::time_t now = std::time(nullptr), i = 0; i < 3; ++i) {
        const std::time_t at = now + i;
        std::tm local{};
        localtime_r(&at, &local);
        const std::string name = dir_ + "/" + ActivityLog::FileName(local);
        std::ofstream(name) << "their log";
        theirs.push_back(name);
        ASSERT_EQ(::symlink(victim.c_str(), NumberedName(name, 2).c_str()), 0);
    }
    ASSERT_EQ(log_.Open(dir_), 1);
    const std::string path = log_.Path();
    EXPECT_TRUE(std::regex_match(path, std::regex(dir_ + R"(/\d{8}_\d{6}_log_3\.txt)"))) << path;
    EXPECT_EQ(FileMode(path), S_IFREG | 0600u);
    for (const std::string& name : theirs) {
        EXPECT_EQ(ReadAll(name), "their log");
        EXPECT_EQ(FileMode(NumberedName(name, 2)), S_IFLNK | 0777u);
    }
    log_.Write("TCP Connected, Load Equp");
    log_.Printf("%.3f, %d", 0.5, 7);

    // A frame saved where a link was planted replaces the link, never writes through it.
    ASSERT_EQ(::symlink(victim.c_str(), frame.c_str()), 0);
    const std::vector<std::uint8_t> last(1000, 'L');
    ASSERT_EQ(FileSaveBinary(frame, last.data(), last.size()), 1);
    EXPECT_EQ(FileMode(frame), S_IFREG | 0600u);
    // The rename refused: the name is a folder with files in it.
    const std::string taken = dir_ + "/taken.jpg";
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(taken + "/inside")));
    EXPECT_EQ(FileSaveBinary(taken, last.data(), last.size()), 0);
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(taken + "/inside")));
    // The disk full: a file size limit cuts a write short as a full disk does.
    constexpr rlim_t kLimit = 64 * 1024;
    rlimit before{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);  // the write fails with EFBIG instead
    rlimit full = before;
    full.rlim_cur = kLimit;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &full), 0);
    const std::vector<std::uint8_t> over(kLimit + 1, 'O'), exact(kLimit, 'E');
    const int overResult = FileSaveBinary(frame, over.data(), over.size());
    const std::string kept = ReadAll(frame);
    const int exactResult = FileSaveBinary(dir_ + "/exact.jpg", exact.data(), exact.size());
    ::setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, oldSignal);
    EXPECT_EQ(overResult, 0) << "a frame cut short is never reported written";
    EXPECT_TRUE(kept == std::string(1000, 'L')) << "the last frame is lost: " << kept.size();
    EXPECT_EQ(exactResult, 1);
    EXPECT_EQ(ReadAll(dir_ + "/exact.jpg").size(), kLimit);

    // A frame file name held by a folder (no file replaces it, whoever you are) or by another
    // user's file is passed over at Start, and every frame of the period is written there.
    const std::string wanted = dir_ + "/20240305_070809_042.jpg";
    const std::string second = dir_ + "/20240305_070809_042_2.jpg";
    ASSERT_EQ(::mkdir(wanted.c_str(), 0755), 0);
    std::ofstream(wanted + "/inside") << "x";
    std::ofstream(second) << "their frame";
    ASSERT_EQ(::chmod(second.c_str(), 0644), 0);
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(second.c_str(), 65534, 65534), 0);  // nobody's
    }
    const std::string period = NewFrameFile(dir_, t, 42);
    EXPECT_EQ(period, dir_ + "/20240305_070809_042_3.jpg");
    EXPECT_EQ(FileMode(period), S_IFREG | 0600u);
    EXPECT_EQ(ReadAll(period), "") << "made at Start, empty until the first frame";
    for (const std::uint8_t b : {0x41, 0x42, 0x43}) {
        const std::vector<std::uint8_t> bytes(1000, b);
        EXPECT_EQ(FileSaveBinary(period, bytes.data(), bytes.size()), 1);
    }
    EXPECT_EQ(ReadAll(period), std::string(1000, 'C'));
    EXPECT_EQ(FileMode(period), S_IFREG | 0600u);
    EXPECT_EQ(ReadAll(second), "their frame");
    EXPECT_EQ(FileMode(wanted), S_IFDIR | 0755u);
    // No folder to make it in: the plain name, and each save says it failed.
    const std::string absent = NewFrameFile(dir_ + "/absent", t, 7);
    EXPECT_EQ(absent, dir_ + "/absent/20240305_070809_007.jpg");
    EXPECT_EQ(FileSaveBinary(absent, nullptr, 0), 0);

    log_.Close();
    EXPECT_TRUE(log_.Path().empty());
    log_.Write("after close");
    EXPECT_EQ(ReadAll(victim), "keep");
    const QStringList left = QDir(tmp_.path()).entryList({"*.jpg.*"}, QDir::Files | QDir::System);
    EXPECT_TRUE(left.isEmpty()) << left.join(' ').toStdString();
    auto lines = SplitCrLf(ReadAll(path));
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d   .*)")));
    for (std::string& line : lines) {
        line.erase(0, 22);
    }
    const std::string failed = "Couldn't create the file!";
    EXPECT_EQ(lines, (std::vector<std::string>{"TCP Connected, Load Equp", "0.500, 7", failed,
                                               failed, failed}));
    // The session's own: a new private file in the temporary folder at every Start.
    FrameFile frames;
    EXPECT_EQ(frames.Path(), "");
    frames.Begin();
    const std::string first = frames.Path();
    frames.Begin();
    EXPECT_NE(first, frames.Path());
    EXPECT_EQ(first.rfind(QDir::tempPath().toStdString() + "/", 0), 0u) << first;
    EXPECT_EQ(FileMode(first), S_IFREG | 0600u);
    EXPECT_EQ(FileMode(frames.Path()), S_IFREG | 0600u);
}

TEST_F(Log, FoldersItCannotUseAreSkippedItsOwnIsPrivateAndThreadsNeverInterleave) {
    std::ofstream(dir_ + "/plain") << "x";
    for (const std::string& folder : {dir_ + "/absent", dir_ + "/plain"}) {
        EXPECT_EQ(log_.Open(folder), 0) << folder;
        EXPECT_FALSE(log_.IsOpen());
        log_.Write("nothing");
    }
    if (::geteuid() != 0) {  // permissions do not bind root
        ASSERT_EQ(::chmod(dir_.c_str(), 0500), 0);
        EXPECT_EQ(log_.Open(dir_), 0);
        ::chmod(dir_.c_str(), 0700);
    }
    // Two writers never interleave, each keeps its order, and a Close in their midst is safe.
    ASSERT_EQ(log_.Open(dir_), 1);
    const std::string path = log_.Path();
    EXPECT_EQ(FileMode(path), S_IFREG | 0600u) << "a fresh file, no link in the way";
    std::atomic<int> written{0};
    const auto writer = [&](int id) {
        for (int i = 0; i < 4000; ++i, ++written) {
            log_.Write("T" + std::to_string(id) + "-" + std::to_string(i) + "-" +
                       std::string(300, 'x'));
        }
    };
    std::thread a(writer, 0), b(writer, 1);
    while (written.load() < 2000) {
        std::this_thread::yield();
    }
    log_.Close();
    a.join();
    b.join();
    const auto lines = SplitCrLf(ReadAll(path));
    EXPECT_GE(lines.size(), 2000u);
    const std::regex whole(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}   T([01])-(\d+)-x{300})");
    int next[2] = {0, 0};
    for (const std::string& line : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, whole)) << line.substr(0, 60);
        EXPECT_EQ(std::stoi(m[2]), next[std::stoi(m[1])]++) << "each thread's lines in order";
    }
    const auto beside = std::filesystem::read_symlink("/proc/self/exe").parent_path() / "log";
    if (::access(beside.c_str(), W_OK) == 0) {
        GTEST_SKIP() << "a log folder exists beside the test program";
    }
    ::setenv("XDG_STATE_HOME", (dir_ + "/state").c_str(), 1);  // NOLINT(concurrency-mt-unsafe)
    const std::string folder = ActivityLog::DefaultFolder();
    ::unsetenv("XDG_STATE_HOME");  // NOLINT(concurrency-mt-unsafe)
    EXPECT_EQ(folder, dir_ + "/state/QVRemote/log");
    EXPECT_EQ(FileMode(folder), S_IFDIR | 0700u);
}

}  // namespace
}  // namespace qv
