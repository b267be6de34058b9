#include "app/StorageFolder.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

namespace {

TEST(StorageFolderTest, PicturesFolderWhenItExistsElseHome) {
  QTemporaryDir home;
  const QByteArray oldHome = qgetenv("HOME");
  const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
  qputenv("HOME", home.path().toUtf8());
  qunsetenv("XDG_CONFIG_HOME");  // no user-dirs.dirs: pictures are ~/Pictures
  EXPECT_EQ(DefaultStorageFolder(), home.path() + "/");
  QDir(home.path()).mkdir("Pictures");
  EXPECT_EQ(DefaultStorageFolder(), home.path() + "/Pictures/");
  qputenv("HOME", oldHome);
  if (!oldConfig.isNull())
    qputenv("XDG_CONFIG_HOME", oldConfig);
}

}  // namespace
