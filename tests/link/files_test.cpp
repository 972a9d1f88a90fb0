// The file and text helpers every layer writes through, on real files: a real umask, a full
// device (/dev/full), names already held, links planted; and peer text with escape sequences.
#include "link/Files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "link/Printable.h"
#include "tests/TestFiles.h"

namespace qv {
namespace {

namespace fs = std::filesystem;

// Sets the umask for the life of the object.
class Umask {
  public:
    explicit Umask(mode_t mask) : old_(::umask(mask)) {}
    ~Umask() { ::umask(old_); }
    Umask(const Umask&) = delete;
    Umask& operator=(const Umask&) = delete;

  private:
    mode_t old_;
};

class Files : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("files_test." + std::to_string(::getpid()));
        fs::remove_all(dir_);
        ASSERT_TRUE(fs::create_directory(dir_));
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string At(const std::string& name) const { return (dir_ / name).string(); }
    // What the folder holds besides the names given.
    std::vector<std::string> Others(std::initializer_list<std::string> known) const {
        std::vector<std::string> others;
        for (const auto& entry : fs::directory_iterator(dir_)) {
            const std::string name = entry.path().filename().string();
            if (std::find(known.begin(), known.end(), name) == known.end()) {
                others.push_back(name);
            }
        }
        return others;
    }
    fs::path dir_;
};

TEST_F(Files, WriteAllEndsOnAFullDeviceAndGoesOnAfterSignalsAndShortWrites) {
    const std::vector<std::uint8_t> bytes(100000, 0x5A);
    const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(full, 0);
    EXPECT_EQ(WriteAll(full, bytes.data(), bytes.size()), ENOSPC);
    ::close(full);
    // A device that takes nothing without saying why is full too, not a loop for ever.
    const WriteFn nothing = [](int, const std::uint8_t*, std::size_t) { return ssize_t{0}; };
    EXPECT_EQ(WriteAll(-1, bytes.data(), bytes.size(), nothing), ENOSPC);
    // Interrupted, then a few bytes at a time: all of it arrives, in order.
    int calls = 0;
    std::string got;
    const WriteFn choppy = [&](int, const std::uint8_t* data, std::size_t size) -> ssize_t {
        if (++calls == 1) {
            errno = EINTR;
            return -1;
        }
        const std::size_t n = std::min<std::size_t>(size, 7);
        got.append(reinterpret_cast<const char*>(data), n);
        return static_cast<ssize_t>(n);
    };
    const std::string text = "0123456789abcdefghijklmnopqrstuvwxyz";
    EXPECT_EQ(WriteAll(-1, reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), choppy),
              0);
    EXPECT_EQ(got, text);
    const WriteFn broken = [](int, const std::uint8_t*, std::size_t) -> ssize_t {
        errno = EIO;
        return -1;
    };
    EXPECT_EQ(WriteAll(-1, bytes.data(), 1, broken), EIO);
}

TEST_F(Files, PrivateFoldersWhateverTheUmaskAndNothingThatExistsIsChanged) {
    const Umask open(0);
    ASSERT_EQ(::mkdir(At("shared").c_str(), 0755), 0);
    EXPECT_EQ(MakePrivateFolders(At("shared/a/b")), 0);
    EXPECT_EQ(FileMode(At("shared")), S_IFDIR | 0755u) << "a folder that was there stays as it was";
    EXPECT_EQ(FileMode(At("shared/a")), S_IFDIR | 0700u);
    EXPECT_EQ(FileMode(At("shared/a/b")), S_IFDIR | 0700u);
    EXPECT_EQ(MakePrivateFolders(At("shared/a/b")), 0) << "again: nothing to do";
    std::ofstream(At("plain")) << "x";
    EXPECT_EQ(MakePrivateFolders(At("plain")), ENOTDIR);
    EXPECT_EQ(MakePrivateFolders(At("plain/sub")), ENOTDIR);
    EXPECT_EQ(MakePrivateFolders(""), ENOENT);
}

TEST_F(Files, NumberedNamesPassOverEverythingTakenUpToTheLastAndFollowNoLink) {
    const std::pair<std::pair<const char*, int>, const char*> names[] = {
        {{"a.jpg", 1}, "a.jpg"},
        {{"a.jpg", 2}, "a_2.jpg"},
        {{"/t/20261207_101530_123.jpg", 3}, "/t/20261207_101530_123_3.jpg"},
        {{"/t/20261207_101530_log.txt", 2}, "/t/20261207_101530_log_2.txt"},
        {{"/t.d/rec_20261207_101530", 2}, "/t.d/rec_20261207_101530_2"},
        {{"/t/.hidden", 2}, "/t/.hidden_2"},
        {{"a.tar.gz", 12}, "a.tar_12.gz"},
    };
    for (const auto& [in, out] : names) {
        EXPECT_EQ(NumberedName(in.first, in.second), out);
    }
    // Names 1 to 98 taken (a link, a folder, another's file among them): the 99th is made.
    const std::string name = At("f.jpg");
    std::ofstream(At("victim")) << "keep";
    ASSERT_EQ(::symlink(At("victim").c_str(), name.c_str()), 0);
    ASSERT_EQ(::mkdir(NumberedName(name, 2).c_str(), 0700), 0);
    for (int n = 3; n < kMaxNumberedName; ++n) {
        std::ofstream(NumberedName(name, n)) << n;
    }
    std::string taken;
    const int fd = CreateNumberedFile(AT_FDCWD, name, taken);
    ASSERT_GE(fd, 0);
    ::close(fd);
    EXPECT_EQ(taken, NumberedName(name, kMaxNumberedName));
    EXPECT_EQ(FileMode(taken), S_IFREG | 0600u);
    EXPECT_EQ(ReadAll(At("victim")), "keep");
    EXPECT_EQ(ReadAll(NumberedName(name, 3)), "3");
    // All taken: refused, nothing replaced.
    taken.clear();
    EXPECT_EQ(CreateNumberedFile(AT_FDCWD, name, taken), -EEXIST);
    EXPECT_TRUE(taken.empty());
    EXPECT_EQ(CreateNewFile(AT_FDCWD, At("no/such/folder/f")), -ENOENT);
}

TEST_F(Files, ReplaceGivesTheModeLessTheUmaskReplacesALinkAndLeavesNothingOnFailure) {
    const std::string path = At("shot.jpg");
    const std::vector<std::uint8_t> bytes(5000, 0x7E);
    {
        const Umask mask(027);
        EXPECT_EQ(ReplaceFile(path, bytes.data(), bytes.size(), 0666), 0);
        EXPECT_EQ(FileMode(path), S_IFREG | 0640u);
    }
    {
        const Umask mask(022);
        EXPECT_EQ(ReplaceFile(path, bytes.data(), 10, 0600), 0);
        EXPECT_EQ(FileMode(path), S_IFREG | 0600u);
        EXPECT_EQ(ReadAll(path), std::string(10, '~'));
    }
    std::ofstream(At("victim")) << "keep";
    ASSERT_EQ(::symlink(At("victim").c_str(), At("link.jpg").c_str()), 0);
    EXPECT_EQ(ReplaceFile(At("link.jpg"), bytes.data(), 3, 0600), 0);
    EXPECT_EQ(ReadAll(At("victim")), "keep") << "the link is replaced, never written through";
    EXPECT_EQ(FileMode(At("link.jpg")), S_IFREG | 0600u);
    // A name nobody can replace by a file, root included: refused, no temporary file left.
    ASSERT_EQ(::mkdir(At("held.jpg").c_str(), 0700), 0);
    std::ofstream(At("held.jpg/inside")) << "x";
    EXPECT_NE(ReplaceFile(At("held.jpg"), bytes.data(), bytes.size(), 0600), 0);
    EXPECT_EQ(ReplaceFile(At("no/such/f.jpg"), bytes.data(), 1, 0600), ENOENT);
    EXPECT_EQ(ReplaceFile(path, nullptr, 1, 0600), EINVAL);
    EXPECT_EQ(ReplaceFile(path, nullptr, 0, 0600), 0);
    EXPECT_EQ(ReadAll(path), "") << "an empty reply makes an empty file";
    EXPECT_EQ(Others({"shot.jpg", "victim", "link.jpg", "held.jpg"}), std::vector<std::string>{});
}

// A file named only when whole: a name that is taken (a planted link among them) is refused
// unless replacing was asked, and then the link is replaced, never written through; a
// discarded file leaves nothing.
TEST_F(Files, ANewFileTakesItsNameWholeOrNotAtAll) {
    const std::string victim = At("victim");
    std::ofstream(victim) << "keep";
    fs::create_symlink(victim, At("link.mkv"));
    NewFile file;
    ASSERT_EQ(file.Create(At("link.mkv")), 0);
    EXPECT_EQ(FileMode(file.tempPath()), S_IFREG | 0600u);
    ASSERT_EQ(WriteAll(file.fd(), reinterpret_cast<const std::uint8_t*>("new"), 3), 0);
    EXPECT_EQ(file.Commit(false), EEXIST);
    EXPECT_TRUE(fs::is_symlink(At("link.mkv")));
    EXPECT_EQ(Others({"victim", "link.mkv"}), std::vector<std::string>{});

    ASSERT_EQ(file.Create(At("link.mkv")), 0);
    ASSERT_EQ(WriteAll(file.fd(), reinterpret_cast<const std::uint8_t*>("new"), 3), 0);
    EXPECT_EQ(file.Commit(true), 0);
    EXPECT_EQ(ReadAll(victim), "keep");
    EXPECT_EQ(ReadAll(At("link.mkv")), "new");
    EXPECT_EQ(FileMode(At("link.mkv")), S_IFREG | 0600u);

    ASSERT_EQ(file.Create(At("free.mp4")), 0);
    EXPECT_EQ(file.Commit(false), 0);
    ASSERT_EQ(file.Create(At("gone.mp4")), 0);
    file.Discard();
    EXPECT_EQ(Others({"victim", "link.mkv", "free.mp4"}), std::vector<std::string>{});
    EXPECT_EQ(file.Commit(true), EBADF);
    EXPECT_EQ(NewFile().Create(At("no-folder/x.mkv")), ENOENT);
}

TEST(Printable, ControlCharactersAndEscapeSequencesComeOutEscapedTextAsItIs) {
    using namespace std::string_literals;
    const std::pair<std::string, std::string> texts[] = {
        {"QV392B", "QV392B"},
        {"", ""},
        {"KEYP 120,200", "KEYP 120,200"},
        // Terminal title, colour, clear screen, bell: nothing a terminal acts on remains.
        {"QV\x1b]0;owned\x07\x1b[2J\x1b[31m", "QV\\x1b]0;owned\\x07\\x1b[2J\\x1b[31m"},
        {"a\rb\nc\td\0e\x7f"s, "a\\x0db\\x0ac\\x09d\\x00e\\x7f"},
        // A backslash is doubled, so the escaped form reads back to the bytes sent.
        {"C:\\x1b", "C:\\\\x1b"},
        // C1 controls, as single bytes (8-bit CSI) and as UTF-8.
        {"\x9b\x32J", "\\x9b2J"},
        {"\u009b\x32J", "\\xc2\\x9b2J"},
        // UTF-8 text stays; broken or overlong UTF-8 and surrogates do not.
        {"Pr\u00fcfger\u00e4t \u20ac \U0001F4E1", "Pr\u00fcfger\u00e4t \u20ac \U0001F4E1"},
        {"\xc2\xa0", "\xc2\xa0"},
        {"\xc3", "\\xc3"},
        {"\xc0\x9b", "\\xc0\\x9b"},
        {"\xe0\x82\x9b", "\\xe0\\x82\\x9b"},
        {"\xed\xa0\x80", "\\xed\\xa0\\x80"},
        {"\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},
        {"caf\xe9", "caf\\xe9"},
    };
    for (const auto& [in, out] : texts) {
        EXPECT_EQ(Printable(in), out) << out;
    }
}

}  // namespace
}  // namespace qv
