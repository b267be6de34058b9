#include "platform/files/ProfileFile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>

#include "HarnessFiles.h"
#include "support/FileSystemFixtures.h"

using harness::ReadFile;
using harness::WriteFile;
using platform::ProfileFile;

namespace {

class ProfileFileTest : public ::testing::Test {
 protected:
  QTemporaryDir dir_;
  std::string path_ = dir_.filePath("参数设置.INI").toStdString();
};

TEST_F(ProfileFileTest, ReadsByTheProfileRules) {
  WriteFile(path_,
            "; head=comment\r\n"
            "[Other]\r\n"
            "k=other\r\n"
            "[ start ]\r\n"
            "Plain=value\r\n"
            "  Spaced \t=   padded value  \t\r\n"
            "Quoted=\" keep blanks \"\r\n"
            "Single='x'\r\n"
            "Mismatch=\"x'\r\n"
            "Empty=\r\n"
            "NoEquals\r\n"
            "  ; note=x\r\n"
            "k=first\r\n"
            "K=second\r\n"
            "#hash=yes\r\n"
            "[START]\r\n"
            "late=second section\r\n");
  const ProfileFile file(path_);
  const std::pair<const char*, std::optional<std::string>> cases[] = {
      {"plain", "value"},
      {"SPACED", "padded value"},
      {"Quoted", " keep blanks "},
      {"single", "x"},
      {"Mismatch", "\"x'"},
      {"Empty", ""},
      {"NoEquals", std::nullopt},
      {"; note", std::nullopt},
      {"k", "first"},
      {"#hash", "yes"},
      {"late", std::nullopt},
      {"absent", std::nullopt},
  };
  for (const auto& [key, expected] : cases) {
    EXPECT_EQ(file.Read(" START", key), expected) << key;
  }
  EXPECT_EQ(file.Keys("start"), (std::vector<std::string>{"Plain", "Spaced", "Quoted", "Single",
                                                          "Mismatch", "Empty", "k", "K", "#hash"}));
  EXPECT_EQ(file.Read("Absent", "k"), std::nullopt);
  EXPECT_EQ(ProfileFile(path_ + ".none").Read("START", "Plain"), std::nullopt);
  EXPECT_TRUE(ProfileFile(path_ + ".none").Keys("START").empty());
}

// Files from elsewhere: GBK from Chinese Windows, UTF-16LE with its mark, lone CRs, Ctrl-Z.
TEST_F(ProfileFileTest, ReadsFilesInTheirEncodingAndLineEnds) {
  const std::string utf16 =
      std::string("\xFF\xFE[\0S\0]\0\r\0\n\0k\0=\0\x4B\x6D\xD5\x8B\r\0\n\0", 24);
  const std::pair<std::string, std::optional<std::string>> cases[] = {
      {"[S]\r\nk=\xB2\xE2\xCA\xD4\r\n", "测试"},
      {"[S]\r\nk=\xB2\xE2\xCA\r\n", "测\xEF\xBF\xBD"},  // half a character at the end
      {utf16, "测试"},
      {"[S]\rj=1\rk=2\r", "2"},
      {"[S]\rk=2\rnext=3", "2"},
      {"[S]\r\nk=2\x1A", "2"},
      {"[S]\r\n\x1A\r\nk=\x1A 2 \r\n", "2"},
      {"[S]\n\rk=2", "2"},
      {"\xEF\xBB\xBF[S]\nk=\xE6\xB5\x8B", "测"},
  };
  for (const auto& [bytes, expected] : cases) {
    WriteFile(path_, bytes);
    EXPECT_EQ(ProfileFile(path_).Read("S", "k"), expected) << bytes;
    const std::vector<std::string> keys = ProfileFile(path_).Keys("S");
    EXPECT_EQ(std::count(keys.begin(), keys.end(), "k"), 1) << bytes;
  }
}

// Valid UTF-8 can be GBK: the reading that is plausible text decides.
TEST_F(ProfileFileTest, TellsGbkFromUtf8ByTheReadingThatMakesSense) {
  const std::pair<std::string, const char*> cases[] = {
      {"k=D:\\\xCD\xBC\xC6\xAC", "D:\\图片"},
      {"k=\xC7\xB0\xD7\xBA", "前缀"},
      {"k=\xCF\xD4\xCE\xA2\xBE\xB5\xCD\xBC\xCF\xF1", "显微镜图像"},
      {"k=\xD2\xBB", "一"},
      {"d=C:\\Users\\lab\\\xCD\xBC\xC6\xAC\r\nk=scope-\xC7\xB0\xD7\xBA", "scope-前缀"},
      // UTF-8, written here as the text itself.
      {"k=图片", "图片"},
      {"k=José", "José"},
      {"k=Größe", "Größe"},
      {"k=Привет", "Привет"},
      {"k=Ελλάδα", "Ελλάδα"},
      {"k=αβγ", "αβγ"},  // CE B1 CE B2 CE B3 is GB2312 as well: both make sense, UTF-8 wins
  };
  for (const auto& [lines, expected] : cases) {
    WriteFile(path_, "[S]\r\n" + lines + "\r\n");
    EXPECT_EQ(ProfileFile(path_).Read("S", "k"), expected) << lines;
  }
}

TEST_F(ProfileFileTest, LongValuesAreCutToWholeCharacters) {
  WriteFile(path_, "[S]\nascii=" + std::string(3000, 'a') + "\n");
  std::string wide;
  for (int i = 0; i < 2100; ++i)
    wide += "图";
  ASSERT_TRUE(ProfileFile(path_).Write("S", "wide", wide));

  EXPECT_EQ(ProfileFile(path_).Read("S", "ascii"), std::string(2047, 'a'));
  EXPECT_EQ(ProfileFile(path_).Read("S", "wide"), wide.substr(0, std::size_t{2047} * 3));
}

TEST_F(ProfileFileTest, ValuesRoundTrip) {
  const ProfileFile file(path_);
  for (const std::string value : {"", "C:\\", "voZU-", " lead", "trail\t", "\"quoted\"", "'q'",
                                  "\"", "\"half", "a=b;c", "中文 值", "  ", "\xEF\xBB\xBFmark"}) {
    ASSERT_TRUE(file.Write("START", "edFileDir", value)) << value;
    EXPECT_EQ(file.Read("START", "edFileDir"), value);
  }
  ASSERT_TRUE(file.Write("START", "edFileDir", "/home/user/pictures"));
  EXPECT_EQ(ReadFile(path_), "[START]\r\nedFileDir=/home/user/pictures\r\n");
}

TEST_F(ProfileFileTest, WritesChangeOnlyTheirEntry) {
  struct Case {
    std::string before;
    const char* section;
    const char* key;
    const char* value;
    std::string after;
  };
  const Case cases[] = {
      {"; c\r\n[S]\r\nKey = old\r\n; tail\r\n", "s", "KEY", "new",
       "; c\r\n[S]\r\nKey = new\r\n; tail\r\n"},
      {"[A]\r\nx=1\r\n\r\n; about B\r\n[B]\r\ny=2\r\n", "A", "z", "3",
       "[A]\r\nx=1\r\nz=3\r\n\r\n; about B\r\n[B]\r\ny=2\r\n"},
      {"[A]\nx=1\n[B]\ny=2\n", "b", "new", "v", "[A]\nx=1\n[B]\ny=2\nnew=v\n"},
      {"[A]\nx=1", "A", "y", "2", "[A]\nx=1\ny=2\n"},
      {"[A]\nx=1", "B", "y", "2", "[A]\nx=1\n[B]\ny=2\n"},
      {"[A]\r\n", "B", "y", "", "[A]\r\n[B]\r\ny=\r\n"},
      {"[S]\nk=1\nk=2\n[S]\nk=9\n", "S", "K", "3", "[S]\nk=3\nk=2\n[S]\nk=9\n"},
      {"\xEF\xBB\xBF[S]\nk=1\n", "S", "k", "2", "\xEF\xBB\xBF[S]\nk=2\n"},
      // Lone CRs end lines; a Ctrl-Z at the end stays the end.
      {"[A]\rx=1\ry=2\r", "A", "x", "9", "[A]\rx=9\ry=2\r"},
      {"[A]\rx=1", "A", "y", "2", "[A]\rx=1\ry=2\r"},
      {"[A]\r\nx=1\r\n\x1A", "A", "y", "2", "[A]\r\nx=1\r\ny=2\r\n\x1A"},
      {"[A]\r\nx=1\r\n\x1A", "B", "y", "2", "[A]\r\nx=1\r\n\x1A\r\n[B]\r\ny=2\r\n"},
      // GBK stays GBK, bytes that decode to nothing included.
      {"[S]\r\nk=\xB2\xE2\r\n\x81\xFF\r\n", "S", "k", "新", "[S]\r\nk=\xD0\xC2\r\n\x81\xFF\r\n"},
      {"[S]\r\nk=\xB2\xE2\r\n", "T", "名", "一",
       "[S]\r\nk=\xB2\xE2\r\n[T]\r\n\xC3\xFB=\xD2\xBB\r\n"},
      // Its last bytes that are not UTF-8 replaced, a GBK file stays GBK byte for byte where the
      // rest reads as implausible UTF-8 ("一", "图片": "һ", "ͼƬ") and becomes UTF-8 with the same
      // texts where it reads as UTF-8 words ("伪尾纬": "αβγ"); the same the other way round.
      {"[S]\r\nk=\xB2\xE2\r\nc=\xD2\xBB\r\nd=D:\\\xCD\xBC\xC6\xAC\r\n", "S", "k", "x",
       "[S]\r\nk=x\r\nc=\xD2\xBB\r\nd=D:\\\xCD\xBC\xC6\xAC\r\n"},
      {"[S]\r\nk=\xB2\xE2\r\nc=\xCE\xB1\xCE\xB2\xCE\xB3\r\n", "S", "k", "x",
       "[S]\r\nk=x\r\nc=\xE4\xBC\xAA\xE5\xB0\xBE\xE7\xBA\xAC\r\n"},
      {"[S]\r\nk=Größe\r\nc=ͼƬ\r\n", "S", "k", "x",
       "[S]\r\nk=x\r\nc=\x81\x30\xC9\x30\x81\x30\x9C\x32\r\n"},
      // UTF-16LE stays UTF-16LE.
      {std::string("\xFF\xFE[\0S\0]\0\n\0k\0=\0"
                   "1\0",
                   16),
       "S", "k", "测", std::string("\xFF\xFE[\0S\0]\0\n\0k\0=\0\x4B\x6D", 16)},
      {std::string("\xFF\xFE[\0S\0]\0\n\0", 10), "T", "k", "",
       std::string("\xFF\xFE[\0S\0]\0\n\0[\0T\0]\0\n\0k\0=\0\n\0", 24)},
  };
  for (const Case& c : cases) {
    WriteFile(path_, c.before);
    EXPECT_TRUE(ProfileFile(path_).Write(c.section, c.key, c.value)) << c.before;
    EXPECT_EQ(ReadFile(path_), c.after) << c.before;
  }
  EXPECT_EQ(testfs::Entries(dir_.path()), (QStringList{".参数设置.INI.lock", "参数设置.INI"}));
  EXPECT_EQ(ProfileFile(path_).Read("T", "k"), "");
}

TEST_F(ProfileFileTest, StoredValueIsNotRewritten) {
  WriteFile(path_, "[S]\nk =  \"v \"  \n");
  ASSERT_EQ(::chmod(path_.c_str(), 0640), 0);
  struct stat before {
  }, after{};
  ASSERT_EQ(::stat(path_.c_str(), &before), 0);
  EXPECT_TRUE(ProfileFile(path_).Write("S", "K", "v "));
  ASSERT_EQ(::stat(path_.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_EQ(ReadFile(path_), "[S]\nk =  \"v \"  \n");

  // A real change replaces the file but keeps its mode.
  EXPECT_TRUE(ProfileFile(path_).Write("S", "K", "w"));
  ASSERT_EQ(::stat(path_.c_str(), &after), 0);
  EXPECT_NE(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mode & 07777, 0640u);
}

TEST_F(ProfileFileTest, FailedWritesLeaveEverythingAsItWas) {
  const std::string original = "[S]\r\nk=v\r\n";
  WriteFile(path_, original);
  const std::string plainFile = dir_.filePath("plain").toStdString();
  WriteFile(plainFile, "x");
  ASSERT_TRUE(QDir(dir_.path()).mkdir("folder"));
  WriteFile(dir_.filePath(".参数设置.INI.lock").toStdString(),
            "");  // stays from any write, by design
  const QStringList entries = testfs::Entries(dir_.path());

  const std::string underFile = plainFile + "/settings.ini";
  const std::string folder = dir_.filePath("folder").toStdString();
  const std::string missing = dir_.filePath("missing/settings.ini").toStdString();
  EXPECT_FALSE(ProfileFile(underFile).Write("S", "k", "v"));
  EXPECT_FALSE(ProfileFile(folder).Write("S", "k", "v"));
  EXPECT_FALSE(ProfileFile(missing).Write("S", "k", "v"));

  // Line breaks and names that would read back as something else would inject entries.
  const ProfileFile file(path_);
  EXPECT_FALSE(file.Write("S", "k", "x\r\n[Evil]"));
  EXPECT_FALSE(file.Write("S", "k", "x\ny=1"));
  EXPECT_FALSE(file.Write("S", "a\nb", "x"));
  EXPECT_FALSE(file.Write("S\r", "k", "x"));
  EXPECT_FALSE(file.Write("S", "a=b", "x"));
  EXPECT_FALSE(file.Write("S", " [T]", "x"));
  EXPECT_FALSE(file.Write("S", ";k", "x"));
  EXPECT_FALSE(file.Write("S]x", "k", "x"));

  // As a user who is not root: a read-only file, and a file whose owner could not be kept.
  ASSERT_EQ(::chmod(dir_.path().toLocal8Bit().constData(), 0777), 0);
  for (const mode_t mode : {0444, 0666}) {
    if (mode == 0666 && ::geteuid() != 0) {
      std::printf("  skipped the owner case: it needs a file of another user (root)\n");
      continue;
    }
    ASSERT_EQ(::chmod(path_.c_str(), mode), 0);
    EXPECT_EQ(testfs::RunUnprivileged([&] { return file.Write("S", "k", "changed") ? 1 : 0; }), 0)
        << std::oct << mode;
  }
  EXPECT_EQ(ReadFile(path_), original);
  EXPECT_EQ(testfs::Entries(dir_.path()), entries);
}

TEST_F(ProfileFileTest, ALinkStaysALinkAndItsTargetIsReplacedBesideItsLock) {
  QTemporaryDir dotfiles;
  const std::string target = dotfiles.filePath("stillwick.ini").toStdString();
  WriteFile(target, "[S]\r\nk=1\r\n");
  ASSERT_EQ(::chmod(target.c_str(), 0600), 0);
  ASSERT_EQ(::symlink(target.c_str(), path_.c_str()), 0);

  EXPECT_TRUE(ProfileFile(path_).Write("S", "k", "2"));
  EXPECT_TRUE(QFileInfo(QString::fromStdString(path_)).isSymLink());
  EXPECT_EQ(ReadFile(target), "[S]\r\nk=2\r\n");
  struct stat st {};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(testfs::Entries(dir_.path()), QStringList{"参数设置.INI"});
  EXPECT_EQ(testfs::Entries(dotfiles.path()),
            (QStringList{".stillwick.ini.lock", "stillwick.ini"}));
}

// In a shared sticky folder another user may plant a link at the settings file's name or at its
// lock's: neither is followed. A lock made here opens only to those who may write the file, so
// no other user can hold it.
TEST_F(ProfileFileTest, AnotherUsersLinksAreNotFollowedNorMayTheyHoldTheLock) {
  if (::geteuid() != 0)
    GTEST_SKIP() << "needs root: links of another user";
  ASSERT_EQ(::chmod(dir_.path().toLocal8Bit().constData(), 0755), 0);
  const std::string shared = dir_.filePath("shared").toStdString();
  ASSERT_EQ(::mkdir(shared.c_str(), 0), 0);
  ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
  const std::string victim = dir_.filePath("victim").toStdString(), original = "[S]\r\nk=1\r\n";
  const std::string settings = shared + "/参数设置.INI", lock = shared + "/.参数设置.INI.lock";
  for (const bool atLock : {false, true}) {
    ::unlink(settings.c_str());
    ASSERT_TRUE(WriteFile(victim, original));
    ASSERT_TRUE(!atLock || WriteFile(settings, original));
    const std::string& link = atLock ? lock : settings;
    ASSERT_EQ(testfs::RunUnprivileged([&] { return ::symlink(victim.c_str(), link.c_str()); }), 0);
    EXPECT_FALSE(ProfileFile(settings).Write("S", "k", "2")) << atLock;
    EXPECT_EQ(ReadFile(victim), original) << atLock;
    EXPECT_EQ(ProfileFile(settings).Read("S", "k"),
              atLock ? std::optional<std::string>("1") : std::nullopt);
    ::unlink(link.c_str());
  }
  ASSERT_TRUE(WriteFile(settings, original));
  ASSERT_TRUE(ProfileFile(settings).Write("S", "k", "3"));
  EXPECT_EQ(testfs::RunUnprivileged([&] { return ::open(lock.c_str(), O_RDONLY) < 0 ? 0 : 1; }), 0);
}

// Without the lock, each of two copies writing at once loses some of its keys to the other's
// rename.
TEST_F(ProfileFileTest, TwoProcessesWritingAtOnceKeepEachOthersKeys) {
  constexpr int kKeys = 40;
  std::vector<pid_t> writers;
  for (const char* prefix : {"a", "b"}) {
    const pid_t writer = ::fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
      bool ok = true;
      for (int i = 0; i < kKeys; ++i)
        ok = ProfileFile(path_).Write("START", prefix + std::to_string(i), "v") && ok;
      ::_exit(ok ? 0 : 1);
    }
    writers.push_back(writer);
  }
  for (const pid_t writer : writers) {
    int status = -1;
    ASSERT_EQ(::waitpid(writer, &status, 0), writer);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(ProfileFile(path_).Keys("START").size(), 2u * kKeys);
}

}  // namespace
