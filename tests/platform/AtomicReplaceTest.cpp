#include "platform/files/AtomicReplace.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>

#include "HarnessFiles.h"
#include "support/FileSystemFixtures.h"

using harness::ReadFile;
using harness::WriteFile;
using platform::AtomicReplace;

namespace {

int Replace(const std::string& path, const std::string& bytes,
            AtomicReplace::Owner owner = AtomicReplace::Owner::KeepWherePermitted) {
  AtomicReplace file;
  int error = file.Begin(path, {owner, false});
  if (error == 0)
    error = file.Write(bytes);
  return error == 0 ? file.Commit() : error;
}

class AtomicReplaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    // Open to the unprivileged child; each case closes what it needs closed.
    ASSERT_EQ(::chmod(dir_.path().toLocal8Bit().constData(), 0777), 0);
  }
  std::string Path(const char* name) const { return dir_.filePath(name).toStdString(); }
  // Everything in the folder, hidden files and one level of subfolders included.
  QStringList Listing() const {
    QStringList all;
    for (const QString& name : testfs::Entries(dir_.path())) {
      all << name;
      for (const QString& inner : testfs::Entries(dir_.filePath(name)))
        all << name + "/" + inner;
    }
    return all;
  }

  QTemporaryDir dir_;
};

TEST_F(AtomicReplaceTest, FailuresKeepTheOldFileAndLeaveNothingBehind) {
  const bool root = ::geteuid() == 0;
  ASSERT_TRUE(QDir(dir_.path()).mkpath("folder"));
  ASSERT_TRUE(QDir(dir_.path()).mkpath("locked"));
  ASSERT_EQ(::chmod(Path("locked").c_str(), 0555), 0);
  ASSERT_TRUE(QDir(dir_.path()).mkpath("disk"));
  testfs::SmallDisk disk(Path("disk"), std::size_t{64} * 1024);
  WriteFile(Path("read-only"), "old", 0444);
  WriteFile(Path("theirs"), "old", 0666);  // another user's, writable by all: root's to the child
  WriteFile(Path("disk/pic"), "old");
  ASSERT_EQ(::symlink("loop", Path("loop").c_str()), 0);

  struct Case {
    const char* name;
    int expected;
    bool unprivileged;
    AtomicReplace::Owner owner;
    bool runs;
  };
  const Case cases[] = {
      {"folder", EISDIR, false, AtomicReplace::Owner::KeepWherePermitted, true},
      {"loop", ELOOP, false, AtomicReplace::Owner::KeepWherePermitted, true},
      {"missing/pic", ENOENT, false, AtomicReplace::Owner::KeepWherePermitted, true},
      {"disk/pic", ENOSPC, false, AtomicReplace::Owner::KeepWherePermitted, disk.Mounted()},
      {"read-only", EACCES, true, AtomicReplace::Owner::KeepWherePermitted, true},
      {"locked/new", EACCES, true, AtomicReplace::Owner::KeepWherePermitted, true},
      {"theirs", EPERM, true, AtomicReplace::Owner::MustKeep, root},
  };
  const QStringList before = Listing();
  const std::string big(std::size_t{256} * 1024, 'x');
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (!c.runs) {
      std::printf("  skipped \"%s\": %s\n", c.name,
                  c.expected == ENOSPC ? testfs::SmallDisk::SkipReason() : "needs root");
      continue;
    }
    const std::string path = Path(c.name);
    const auto attempt = [&] { return Replace(path, big, c.owner); };
    EXPECT_EQ(c.unprivileged ? testfs::RunUnprivileged(attempt) : attempt(), c.expected)
        << std::strerror(c.expected);
    EXPECT_EQ(Listing(), before);
    if (QFileInfo(QString::fromStdString(path)).isFile()) {
      EXPECT_EQ(ReadFile(path), "old");
    }
  }
}

TEST_F(AtomicReplaceTest, ReplacesTheFileALinkNamesKeepingModeAndOwner) {
  ASSERT_TRUE(QDir(dir_.path()).mkpath("elsewhere"));
  WriteFile(Path("elsewhere/real"), "old", 0640);
  ASSERT_EQ(::symlink("elsewhere/real", Path("link").c_str()), 0);
  ASSERT_EQ(::symlink(Path("elsewhere/new").c_str(), Path("dangling").c_str()), 0);

  EXPECT_EQ(Replace(Path("link"), "new"), 0);
  EXPECT_EQ(Replace(Path("dangling"), "made"), 0);
  EXPECT_EQ(QFileInfo(QString::fromStdString(Path("link"))).symLinkTarget(),
            QString::fromStdString(Path("elsewhere/real")));
  EXPECT_EQ(ReadFile(Path("link")), "new");
  EXPECT_EQ(ReadFile(Path("elsewhere/new")), "made");
  struct stat st {};
  ASSERT_EQ(::stat(Path("elsewhere/real").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(testfs::Entries(dir_.path()), (QStringList{"dangling", "elsewhere", "link"}));

  if (::geteuid() != 0) {
    std::printf("  skipped the owner cases: they need root\n");
    return;
  }
  // Root keeps another user's file theirs; a user replacing a file others may write makes it
  // their own only where they are not asked to keep the owner.
  WriteFile(Path("theirs"), "old", 0666);
  ASSERT_EQ(::chown(Path("theirs").c_str(), testfs::kNobody, testfs::kNogroup), 0);
  EXPECT_EQ(Replace(Path("theirs"), "root's", AtomicReplace::Owner::MustKeep), 0);
  ASSERT_EQ(::stat(Path("theirs").c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, testfs::kNobody);
  EXPECT_EQ(st.st_gid, testfs::kNogroup);

  WriteFile(Path("root's"), "old", 0666);
  EXPECT_EQ(testfs::RunUnprivileged([&] { return Replace(Path("root's"), "nobody's"); }), 0);
  ASSERT_EQ(::stat(Path("root's").c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, testfs::kNobody);
  EXPECT_EQ(st.st_mode & 07777, 0666u);
  EXPECT_EQ(ReadFile(Path("root's")), "nobody's");
}

// The kernel's protected_symlinks rule, whatever the setting here: in a sticky world-writable
// folder only the writer's own links and the folder owner's are followed, at every link on the
// way. The links are planted by another user, in a child running as that user.
TEST_F(AtomicReplaceTest, LinksAreFollowedOnlyWhereTheKernelWould) {
  if (::geteuid() != 0)
    GTEST_SKIP() << "needs root: links of another user";
  for (const char* folder : {"shared", "theirs", "open", "private"})
    ASSERT_TRUE(QDir(dir_.path()).mkdir(folder));
  ASSERT_EQ(::chmod(Path("shared").c_str(), 01777), 0);
  ASSERT_EQ(::chmod(Path("theirs").c_str(), 01777), 0);
  ASSERT_EQ(::chown(Path("theirs").c_str(), testfs::kNobody, testfs::kNogroup), 0);
  ASSERT_EQ(::chmod(Path("open").c_str(), 0777), 0);
  const std::string victim = Path("private/victim");
  const auto plant = [](const std::string& target, const std::string& link) {
    return testfs::RunUnprivileged([&] { return ::symlink(target.c_str(), link.c_str()); });
  };
  ASSERT_EQ(plant(victim, Path("shared/planted")), 0);
  ASSERT_EQ(plant(Path("private/new"), Path("shared/dangling")), 0);
  ASSERT_EQ(plant(Path("private"), Path("shared/folder")), 0);
  ASSERT_EQ(plant(victim, Path("open/planted")), 0);
  ASSERT_EQ(plant(victim, Path("theirs/planted")), 0);
  ASSERT_EQ(::symlink(victim.c_str(), Path("shared/mine").c_str()), 0);
  ASSERT_EQ(::symlink(Path("shared/planted").c_str(), Path("private/chain").c_str()), 0);

  const std::pair<const char*, int> cases[] = {
      {"shared/planted", EACCES}, {"shared/dangling", EACCES}, {"shared/folder/victim", EACCES},
      {"private/chain", EACCES},  {"shared/mine", 0},          {"open/planted", 0},
      {"theirs/planted", 0},
  };
  for (const auto& [name, expected] : cases) {
    WriteFile(victim, "old");
    EXPECT_EQ(Replace(Path(name), "new"), expected) << name;
    EXPECT_EQ(ReadFile(victim), expected == 0 ? "new" : "old") << name;
    EXPECT_FALSE(QFile::exists(QString::fromStdString(Path("private/new")))) << name;
  }
}

// A writer killed before its rename leaves its temporary file; the next process to write into the
// folder removes it, but nothing a live writer holds, another user's file or another name.
TEST_F(AtomicReplaceTest, LeftoversOfWritersNoLongerRunningGoAtTheFirstWrite) {
  const pid_t dead = ::fork();
  if (dead == 0)
    ::_exit(0);
  ASSERT_EQ(::waitpid(dead, nullptr, 0), dead);
  const std::string gone = ".stillwick-" + std::to_string(dead) + "-";
  const bool root = ::geteuid() == 0;
  const std::pair<std::string, bool> cases[] = {
      {gone + "AbCdEfGh01.tmp", true},
      {gone + "HeldByPeer.tmp", false},  // its writer is on another machine or in a container
      {gone + "NobodyOwns.tmp", !root},  // another user's where we can make one
      {".stillwick-" + std::to_string(::getppid()) + "-AbCdEfGh01.tmp", false},  // running
      {gone + "AbCdEfGh01.tmp.bak", false},
      {gone + "short.tmp", false},
      {".stillwick-AbCdEfGh01.tmp", false},
  };
  for (const auto& [name, removed] : cases)
    ASSERT_TRUE(WriteFile(Path(name.c_str()), "x"));
  if (root) {
    ASSERT_EQ(::chown(Path((gone + "NobodyOwns.tmp").c_str()).c_str(), testfs::kNobody, 0), 0);
  }
  const int peer = ::open(Path((gone + "HeldByPeer.tmp").c_str()).c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(::flock(peer, LOCK_EX), 0);  // an open file of its own: as another process's lock

  EXPECT_EQ(Replace(Path("pic.bmp"), "new"), 0);
  for (const auto& [name, removed] : cases)
    EXPECT_EQ(QFile::exists(QString::fromStdString(Path(name.c_str()))), !removed) << name;
  ::close(peer);
}

}  // namespace
