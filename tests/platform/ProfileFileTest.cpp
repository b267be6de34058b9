#include "platform/ProfileFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QTemporaryDir>

#include <fstream>
#include <sstream>

using platform::ProfileFile;

namespace {

void Put(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string Get(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

QStringList Entries(const QTemporaryDir& dir) {
  return QDir(dir.path())
      .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

class ProfileFileTest : public ::testing::Test {
 protected:
  QTemporaryDir dir_;
  std::string path_ = dir_.filePath("参数设置.INI").toStdString();
};

TEST_F(ProfileFileTest, ReadsByTheProfileRules) {
  Put(path_,
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

TEST_F(ProfileFileTest, LongValuesAreCutToWholeCharacters) {
  Put(path_, "[S]\nascii=" + std::string(3000, 'a') + "\n");
  std::string wide;
  for (int i = 0; i < 2100; ++i)
    wide += "图";
  ASSERT_TRUE(ProfileFile(path_).Write("S", "wide", wide));

  EXPECT_EQ(ProfileFile(path_).Read("S", "ascii"), std::string(2047, 'a'));
  EXPECT_EQ(ProfileFile(path_).Read("S", "wide"), wide.substr(0, 2047 * 3));
}

TEST_F(ProfileFileTest, ValuesRoundTrip) {
  const ProfileFile file(path_);
  for (const std::string value : {"", "C:\\", "voZU-", " lead", "trail\t", "\"quoted\"", "'q'",
                                  "\"", "\"half", "a=b;c", "中文 值", "  "}) {
    ASSERT_TRUE(file.Write("START", "edFileDir", value)) << value;
    EXPECT_EQ(file.Read("START", "edFileDir"), value);
  }
  ASSERT_TRUE(file.Write("START", "edFileDir", "/home/user/pictures"));
  EXPECT_EQ(Get(path_), "[START]\r\nedFileDir=/home/user/pictures\r\n");
}

TEST_F(ProfileFileTest, WritesChangeOnlyTheirEntry) {
  struct Case {
    const char* before;
    const char* section;
    const char* key;
    const char* value;
    const char* after;
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
  };
  for (const Case& c : cases) {
    Put(path_, c.before);
    EXPECT_TRUE(ProfileFile(path_).Write(c.section, c.key, c.value)) << c.before;
    EXPECT_EQ(Get(path_), c.after) << c.before;
  }
  EXPECT_EQ(Entries(dir_), QStringList{"参数设置.INI"});
}

TEST_F(ProfileFileTest, StoredValueIsNotRewritten) {
  Put(path_, "[S]\nk =  \"v \"  \n");
  ASSERT_EQ(::chmod(path_.c_str(), 0640), 0);
  struct stat before {
  }, after{};
  ASSERT_EQ(::stat(path_.c_str(), &before), 0);
  EXPECT_TRUE(ProfileFile(path_).Write("S", "K", "v "));
  ASSERT_EQ(::stat(path_.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_EQ(Get(path_), "[S]\nk =  \"v \"  \n");

  // A real change replaces the file but keeps its mode.
  EXPECT_TRUE(ProfileFile(path_).Write("S", "K", "w"));
  ASSERT_EQ(::stat(path_.c_str(), &after), 0);
  EXPECT_NE(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mode & 07777, 0640u);
}

TEST_F(ProfileFileTest, FailedWritesLeaveEverythingAsItWas) {
  const std::string original = "[S]\r\nk=v\r\n";
  Put(path_, original);
  const std::string plainFile = dir_.filePath("plain").toStdString();
  Put(plainFile, "x");
  ASSERT_TRUE(QDir(dir_.path()).mkdir("folder"));
  const QStringList entries = Entries(dir_);

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

  if (::geteuid() != 0) {  // root writes through permission bits
    ASSERT_EQ(::chmod(path_.c_str(), 0444), 0);
    EXPECT_FALSE(file.Write("S", "k", "changed"));
  }
  EXPECT_EQ(Get(path_), original);
  EXPECT_EQ(Entries(dir_), entries);
}

}  // namespace
