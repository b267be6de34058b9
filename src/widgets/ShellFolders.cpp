#include "widgets/ShellFolders.h"

#include <QCollator>
#include <QCoreApplication>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QStorageInfo>

#include <algorithm>

namespace {
constexpr QDir::Filters kVisibleFolders = QDir::Dirs | QDir::NoDotAndDotDot;

bool IsNetworkFileSystem(const QByteArray& type) {
  static const QList<QByteArray> kNetwork{"nfs",   "nfs4",       "cifs",       "smb3",
                                          "smbfs", "fuse.sshfs", "afs",        "9p",
                                          "ceph",  "glusterfs",  "fuse.rclone"};
  return kNetwork.contains(type);
}

// Mount points the system keeps for itself; a user never stores pictures there.
bool IsSystemMountPoint(const QString& root) {
  static const QStringList kSystem{"/boot", "/efi", "/snap", "/proc", "/sys", "/dev",
                                   "/run",  "/var", "/usr",  "/etc",  "/tmp", "/opt"};
  if (root.startsWith(QLatin1String("/run/media/")))
    return false;
  return std::any_of(kSystem.begin(), kSystem.end(), [&](const QString& system) {
    return root == system || root.startsWith(system + QLatin1Char('/'));
  });
}

bool IsUserVolume(const QStorageInfo& volume) {
  if (!volume.isValid() || !volume.isReady())
    return false;
  const QByteArray type = volume.fileSystemType();
  // Read-only images (snaps, live media layers) are not places to store anything.
  if (type == "squashfs")
    return false;
  const bool blockDevice = volume.device().startsWith("/dev/");
  if (!blockDevice && !IsNetworkFileSystem(type))
    return false;
  const QString root = volume.rootPath();
  if (IsSystemMountPoint(root))
    return false;
  // Containers bind-mount single files (/etc/hosts...); only folders belong in the tree.
  return QFileInfo(root).isDir();
}

const QCollator& NameCollator() {
  static const QCollator collator = [] {
    // Without a chosen locale ("C") the collator would compare code units, "file10" before
    // "file9"; fall back to a plain English ordering then.
    QLocale locale;
    if (locale.language() == QLocale::C)
      locale = QLocale(QLocale::English, QLocale::UnitedStates);
    QCollator c{locale};
    c.setNumericMode(true);
    c.setCaseSensitivity(Qt::CaseInsensitive);
    return c;
  }();
  return collator;
}
}  // namespace

QStringList MountedVolumeRoots() {
  QStringList others;
  for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
    const QString root = volume.rootPath();
    if (root == QLatin1String("/") || others.contains(root) || !IsUserVolume(volume))
      continue;
    others << root;
  }
  std::sort(others.begin(), others.end(),
            [](const QString& a, const QString& b) { return CompareFolderNames(a, b) < 0; });
  return QStringList{QStringLiteral("/")} + others;
}

QString JoinFolderPath(const QString& folder, const QString& name) {
  return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

QStringList ListSubfolders(const QString& folder) {
  QStringList names;
  QDirIterator it(folder, kVisibleFolders);
  while (it.hasNext()) {
    it.next();
    names << it.fileName();
  }
  std::sort(names.begin(), names.end(),
            [](const QString& a, const QString& b) { return CompareFolderNames(a, b) < 0; });
  return names;
}

bool HasSubfolders(const QString& folder) {
  return QDirIterator(folder, kVisibleFolders).hasNext();
}

int CompareFolderNames(const QString& a, const QString& b) {
  const int order = NameCollator().compare(a, b);
  // Names equal to the collator ("a" and "A") still need a fixed order.
  return order != 0 ? order : QString::compare(a, b);
}

QString FreeNewFolderName(const QString& folder) {
  const QString base = QCoreApplication::translate("TShellTreeView", "新建文件夹");
  QString name = base;
  for (int n = 2; PathExists(JoinFolderPath(folder, name)); ++n) {
    name = QStringLiteral("%1 (%2)").arg(base).arg(n);
  }
  return name;
}

bool MoveToTrash(const QString& path) {
  // When no trash folder can be made, Qt 6.4 takes the working folder for one and "trashes"
  // into ./files and ./info. Such a move is undone and counts as a failure.
  const bool hadFiles = QFileInfo::exists(QStringLiteral("files"));
  const bool hadInfo = QFileInfo::exists(QStringLiteral("info"));
  QString inTrash;
  if (!QFile::moveToTrash(path, &inTrash))
    return false;
  if (QDir::isAbsolutePath(inTrash))
    return true;
  if (!QDir().rename(inTrash, path))
    return true;  // out of its place; nothing more to do
  const QString name = QFileInfo(inTrash).fileName();
  QFile::remove(QStringLiteral("info/") + name + QStringLiteral(".trashinfo"));
  if (!hadFiles)
    QDir().rmdir(QStringLiteral("files"));
  if (!hadInfo)
    QDir().rmdir(QStringLiteral("info"));
  return false;
}

bool IsPlainFolderName(const QString& name) {
  return !name.isEmpty() && !name.contains(QLatin1Char('/')) && !name.contains(QChar(0)) &&
         name != QLatin1String(".") && name != QLatin1String("..");
}

bool PathExists(const QString& path) {
  const QFileInfo info(path);
  return info.exists() || info.isSymLink();
}
