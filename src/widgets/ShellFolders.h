#pragma once
// The file-system side of the folder tree: which volumes sit below the computer node, how a
// folder's subfolders are listed and ordered, and the few folder operations of its menu.

#include <QString>
#include <QStringList>

// "/" first, then every mounted volume a user would look for: block devices and network
// shares, without system mounts (boot partitions, snap images, /proc, /sys, /run, /var...),
// without mounted files and without the same mount point twice.
QStringList MountedVolumeRoots();

// Joins a folder and a name; the root "/" takes no second separator.
QString JoinFolderPath(const QString& folder, const QString& name);

// The visible (not hidden) subfolders of a folder, sorted like a file manager sorts names:
// by the user's locale, digits as numbers, case ignored. Empty when the folder cannot be read.
QStringList ListSubfolders(const QString& folder);

// Whether the folder has at least one visible subfolder; stops at the first one.
bool HasSubfolders(const QString& folder);

// The name-ordering of the tree: negative, zero or positive.
int CompareFolderNames(const QString& a, const QString& b);

// The first of "新建文件夹", "新建文件夹 (2)", "新建文件夹 (3)"... not yet taken in the folder.
QString FreeNewFolderName(const QString& folder);

// Moves a file or folder to the user's trash; false when it stays where it is.
bool MoveToTrash(const QString& path);

// Whether a name can become a folder's new name in place: no separator, not "." or "..".
bool IsPlainFolderName(const QString& name);

// Whether anything (a dangling link included) exists at the path.
bool PathExists(const QString& path);
