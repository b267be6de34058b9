#include "app/StorageFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

QString DefaultStorageFolder() {
  QString folder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
  if (folder.isEmpty() || !QFileInfo(folder).isDir())
    folder = QDir::homePath();
  if (!folder.endsWith(QLatin1Char('/')))
    folder += QLatin1Char('/');
  return folder;
}
