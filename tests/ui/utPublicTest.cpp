#include "utPublic.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <climits>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

#include "HarnessEventLoop.h"
#include "HarnessFiles.h"
#include "platform/files/FileLock.h"
#include "platform/runtime/Error.h"
#include "platform/runtime/ErrorBox.h"
#include "support/FileSystemFixtures.h"

namespace {

TEST(utPublicTest, NumberConversion) {
  const std::pair<const char*, std::optional<int32_t>> cases[] = {
      {"0", 0},
      {"$0A", 10},
      {"0x0A", 10},
      {"X1f", 31},
      {" 7", 7},
      {"\t 7", 7},
      {"+5", 5},
      {"-12", -12},
      {"007", 7},
      {"2147483647", INT32_MAX},
      {"-2147483648", INT32_MIN},
      {"$FFFFFFFF", -1},
      {"$80000000", INT32_MIN},
      {"-$10", -16},
      {"$000000010", 16},
      {"2147483648", std::nullopt},
      {"-2147483649", std::nullopt},
      {"$100000000", std::nullopt},
      {"abc", std::nullopt},
      {"", std::nullopt},
      {"  ", std::nullopt},
      {"12 ", std::nullopt},
      {"1 2", std::nullopt},
      {"+", std::nullopt},
      {"$", std::nullopt},
      {"0x", std::nullopt},
      {"--1", std::nullopt},
      {"1e3", std::nullopt},
  };
  for (const auto& [text, expected] : cases) {
    int32_t value = 12345;
    const bool ok = TryStrToInt(text, value);
    EXPECT_EQ(ok ? std::optional<int32_t>(value) : std::nullopt, expected) << '"' << text << '"';
  }
  EXPECT_EQ(StrToInt("$0A"), 10);
  for (const std::string text : {"abc", "12 ", ""}) {
    try {
      StrToInt(text);
      ADD_FAILURE() << text;
    } catch (const EStillwickError& e) {
      EXPECT_EQ(std::string(e.what()), "'" + text + "' is not a valid integer value");
    }
  }
}

TEST(utPublicTest, IniValues) {
  QTemporaryDir dir;
  const std::string ini = dir.filePath(kIniBaseName).toStdString();
  EXPECT_EQ(ReadIniValueDef(ini, "START", "edFileDir", "def"), "def");
  EXPECT_EQ(ReadIniValue(ini, "START", "edFileDir"), "");
  EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(ini)));

  WriteIniValue(ini, "START", "edFileDir", "");
  WriteIniValue(ini, "START", "edPreText", "voZU-");
  EXPECT_EQ(ReadIniValueDef(ini, "START", "edFileDir", "def"), "");
  EXPECT_EQ(ReadIniValueDef(ini, "start", "EDPRETEXT", "def"), "voZU-");
  EXPECT_EQ(ReadIniValueDef(ini, "START", "spPicNum", "1"), "1");
  EXPECT_EQ(ReadIniValueDef(ini, "VideoCapture", "edPreText", "def"), "def");
  EXPECT_EQ(ReadIniValue(ini, "START", "spPicNum"), "");

  const std::string unwritable = dir.filePath("missing/参数设置.INI").toStdString();
  try {
    WriteIniValue(unwritable, "START", "edFileDir", "x");
    ADD_FAILURE() << "write into a missing folder succeeded";
  } catch (const EStillwickError& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + unwritable);
  }
}

TEST(utPublicTest, SettingsFileLocation) {
  QStandardPaths::setTestModeEnabled(true);
  QTemporaryDir dir;
  const std::string exe = dir.filePath("stillwick").toStdString();
  const QString configFolder = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
  const std::string inConfig = (configFolder + "/" + kIniBaseName).toStdString();

  EXPECT_EQ(SettingsFilePath(exe, [](const std::string&) { return true; }),
            dir.filePath(kIniBaseName).toStdString());
  std::string asked;
  EXPECT_EQ(SettingsFilePath(exe,
                             [&](const std::string& folder) {
                               asked = folder;
                               return false;
                             }),
            inConfig);
  EXPECT_EQ(asked, dir.path().toStdString());
  EXPECT_TRUE(QFileInfo(configFolder).isDir());

  // An installed executable, here in a folder named through a link, never keeps its settings
  // beside itself, even where it could write (as root can in /usr/bin).
  const QString link = dir.filePath("bin-link");
  ASSERT_TRUE(QFile::link(dir.path(), link));
  EXPECT_EQ(SettingsFilePath(exe, [](const std::string&) { return true; }, {link.toStdString()}),
            inConfig);
  QFile::remove(link);

  // The real check tries a file, and leaves none behind.
  const std::string plainFile = dir.filePath("plain").toStdString();
  ASSERT_TRUE(harness::WriteFile(plainFile, "x"));
  EXPECT_TRUE(FolderWritable(dir.path().toStdString()));
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList{"plain"});
  EXPECT_FALSE(FolderWritable(plainFile));
  EXPECT_FALSE(FolderWritable(dir.filePath("missing").toStdString()));

  // An executable whose folder takes no files keeps its settings in the configuration folder.
  ASSERT_TRUE(InitializePublic(
      plainFile + "/stillwick", [] { return true; }, [](const std::string&) {}));
  EXPECT_EQ(IniFileName(), inConfig);
  SetIniFileNameForTesting("");
}

// A lock held elsewhere never makes the window wait: the write is retried from the event loop,
// a newer value replacing the one still waiting, and fails with its box when the holder keeps
// the lock for seconds.
TEST(utPublicTest, SettingsWriteMeetingAHeldLockIsRetriedFromTheEventLoop) {
  QTemporaryDir dir;
  const std::string ini = dir.filePath(kIniBaseName).toStdString();
  const std::string lock = dir.filePath(QString(".") + kIniBaseName + ".lock").toStdString();
  ASSERT_TRUE(harness::WriteFile(ini, "[START]\r\nk=1\r\n"));
  std::vector<std::string> errors;
  SetErrorPresenter([&](const std::string& text) { errors.push_back(text); });
  for (const bool letsGo : {true, false}) {
    auto holder = std::make_unique<platform::FileLock>();  // as another copy's
    ASSERT_EQ(holder->Acquire(lock), 0);
    WriteIniValue(ini, "START", "k", letsGo ? "2" : "4");
    WriteIniValue(ini, "START", "k", letsGo ? "3" : "5");
    const std::string before = letsGo ? "1" : "3";
    EXPECT_EQ(ReadIniValue(ini, "START", "k"), before);
    if (letsGo)
      holder.reset();
    EXPECT_TRUE(harness::WaitFor(
        [&] { return !errors.empty() || ReadIniValue(ini, "START", "k") != before; }));
  }
  EXPECT_EQ(errors, std::vector<std::string>{"Unable to write to " + ini + "."});
  EXPECT_EQ(ReadIniValue(ini, "START", "k"), "3");
  SetErrorPresenter(nullptr);
}

// A folder others may write could get a planted settings file or a link in its place: the
// settings file then lives in the configuration folder.
TEST(utPublicTest, FolderOthersMayWriteDoesNotHoldTheSettingsFile) {
  QTemporaryDir dir;
  constexpr auto kMine = static_cast<uid_t>(-1);  // chown leaves it as it is
  const struct {
    const char* name;
    mode_t above, mode;  // of the folder it is in, and its own
    uid_t owner;
    bool holds;
  } cases[] = {
      {"own", 0755, 0755, kMine, true},
      {"group", 0755, 0775, kMine, false},
      {"world", 0755, 0757, kMine, false},
      {"sticky", 0755, 01777, kMine, false},
      {"in-open", 0777, 0755, kMine, false},
      {"in-sticky", 01777, 0755, kMine, true},
      {"theirs", 0755, 0755, testfs::kNobody, false},
  };
  for (const auto& c : cases) {
    const QString above = dir.filePath(c.name), folder = above + "/bin";
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_EQ(::chmod(above.toLocal8Bit().constData(), c.above), 0);
    ASSERT_EQ(::chmod(folder.toLocal8Bit().constData(), c.mode), 0);
    if (::chown(folder.toLocal8Bit().constData(), c.owner, static_cast<gid_t>(-1)) != 0) {
      std::printf("  skipped \"%s\": needs root\n", c.name);
      continue;
    }
    EXPECT_EQ(FolderWritable(folder.toStdString()), c.holds) << c.name;
  }
}

TEST(utPublicTest, CounterCheck) {
  QTemporaryDir dir;
  const std::string exe = dir.filePath("stillwick").toStdString();
  std::vector<std::string> shown;
  const auto show = [&](const std::string& message) { shown.push_back(message); };

  EXPECT_TRUE(InitializePublic(
      exe, [] { return true; }, show));
  EXPECT_TRUE(shown.empty());
  EXPECT_EQ(IniFileName(), dir.filePath(kIniBaseName).toStdString());

  EXPECT_FALSE(InitializePublic(
      exe, [] { return false; }, show));
  EXPECT_EQ(shown, std::vector<std::string>{"对不起,发现该计算机没有高性能计数器.\n"
                                            "请升级您的计算机和操作系统.系统退出"});
  // Every Linux machine we run on has a nanosecond monotonic clock.
  EXPECT_TRUE(HighResolutionCounterPresent());
  SetIniFileNameForTesting("");
}

TEST(utPublicTest, DateAndTimeTexts) {
  EXPECT_EQ(DateText(QDate(2007, 3, 9)), "2007-03-09");
  EXPECT_EQ(DateText(QDate(987, 12, 31)), "0987-12-31");
  EXPECT_TRUE(QRegularExpression("^([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9]$")
                  .match(QString::fromStdString(TimeText()))
                  .hasMatch())
      << TimeText();
}

}  // namespace
