#include "platform/media/GraphRegistry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <functional>

#include "HarnessFiles.h"
#include "platform/media/Pipeline.h"
#include "support/FileSystemFixtures.h"

using platform::GraphRegistry;

namespace {

// Without $XDG_RUNTIME_DIR the registry lives in the shared temp folder, where another user
// may have taken its name first.
TEST(GraphRegistryTest, FallbackFolderIsThisUsersOwnOrNotUsed) {
  QTemporaryDir temp;
  ASSERT_TRUE(temp.isValid());
  const QByteArray oldRuntime = qgetenv("XDG_RUNTIME_DIR"), oldTemp = qgetenv("TMPDIR");
  qunsetenv("XDG_RUNTIME_DIR");
  qputenv("TMPDIR", temp.path().toLocal8Bit());
  const QString own = temp.path() + "/stillwick-" + QString::number(::geteuid());
  const QString elsewhere = temp.filePath("elsewhere");
  ASSERT_TRUE(QDir().mkpath(elsewhere));
  ASSERT_TRUE(QFile::setPermissions(elsewhere, QFile::ReadOwner | QFile::WriteOwner |
                                                   QFile::ExeOwner | QFile::ReadOther |
                                                   QFile::WriteOther | QFile::ExeOther));
  const auto pipeline = platform::NewPipeline("graph");
  GraphRegistry registry;
  EXPECT_EQ(GraphRegistry::Folder(), own.toStdString());

  struct Case {
    const char* name;
    std::function<bool()> takeName;
  };
  const Case refused[] = {
      {"a link", [&] { return QFile::link(elsewhere, own); }},
      {"a file", [&] { return harness::WriteFile(own.toStdString(), ""); }},
      {"another user's folder",
       [&] {
         return QDir().mkdir(own) &&
                ::chown(own.toLocal8Bit().constData(), testfs::kNobody, testfs::kNogroup) == 0;
       }},
  };
  for (const Case& c : refused) {
    SCOPED_TRACE(c.name);
    if (std::string(c.name) == "another user's folder" && ::geteuid() != 0) {
      std::printf("  skipped \"%s\": needs root\n", c.name);
      continue;
    }
    ASSERT_TRUE(c.takeName());
    EXPECT_FALSE(registry.Enter(pipeline.get()));
    EXPECT_TRUE(QDir(elsewhere).isEmpty());
    EXPECT_EQ(QFileInfo(elsewhere).permissions() & QFile::WriteOther, QFile::WriteOther);
    ASSERT_TRUE(QFileInfo(own).isDir() && !QFileInfo(own).isSymLink()
                    ? QDir(own).removeRecursively()
                    : QFile::remove(own));
  }

  ASSERT_TRUE(registry.Enter(pipeline.get()));
  struct stat st {};
  ASSERT_EQ(::lstat(own.toLocal8Bit().constData(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  EXPECT_TRUE(QFile::exists(QString::fromStdString(registry.Path())));
  registry.Withdraw();
  EXPECT_TRUE(QDir(own).isEmpty());

  qputenv("XDG_RUNTIME_DIR", oldRuntime);
  if (oldRuntime.isNull())
    qunsetenv("XDG_RUNTIME_DIR");
  qputenv("TMPDIR", oldTemp);
  if (oldTemp.isNull())
    qunsetenv("TMPDIR");
}

}  // namespace
