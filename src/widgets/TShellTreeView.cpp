#include "widgets/TShellTreeView.h"

#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QTreeWidgetItemIterator>
#include <QUrl>

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "platform/runtime/Error.h"
#include "platform/runtime/ErrorBox.h"
#include "widgets/ShellFolders.h"

namespace {
constexpr int kPathRole = Qt::UserRole;
constexpr int kKindRole = Qt::UserRole + 1;
constexpr int kReadRole = Qt::UserRole + 2;  // children have been read

class WaitCursor {
 public:
  WaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

class UpdatesSuspended {
 public:
  explicit UpdatesSuspended(QWidget* widget) : widget_(widget), was_(widget->updatesEnabled()) {
    widget_->setUpdatesEnabled(false);
  }
  ~UpdatesSuspended() { widget_->setUpdatesEnabled(was_); }
  UpdatesSuspended(const UpdatesSuspended&) = delete;
  UpdatesSuspended& operator=(const UpdatesSuspended&) = delete;

 private:
  QWidget* widget_;
  bool was_;
};

class Counted {
 public:
  explicit Counted(int& counter) : counter_(counter) { ++counter_; }
  ~Counted() { --counter_; }
  Counted(const Counted&) = delete;
  Counted& operator=(const Counted&) = delete;

 private:
  int& counter_;
};

// Hands the edited caption to the tree instead of writing it into the node: the node's
// caption changes only when the folder on disk was renamed.
class CaptionEditDelegate : public QStyledItemDelegate {
 public:
  using Handler = std::function<void(const QPersistentModelIndex&, const QString&)>;
  explicit CaptionEditDelegate(Handler handler) : handler_(std::move(handler)) {}

  void setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex& index) const override {
    if (const auto* line = qobject_cast<QLineEdit*>(editor)) {
      handler_(QPersistentModelIndex(index), line->text());
    }
  }

 private:
  Handler handler_;
};

void SetHasChildrenMark(QTreeWidgetItem* node, bool hasChildren) {
  node->setChildIndicatorPolicy(hasChildren ? QTreeWidgetItem::ShowIndicator
                                            : QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

bool IsBelow(const QTreeWidgetItem* node, const QTreeWidgetItem* ancestor) {
  for (const QTreeWidgetItem* up = node ? node->parent() : nullptr; up; up = up->parent()) {
    if (up == ancestor)
      return true;
  }
  return false;
}

// Same file system object (a case-only rename on a case-blind volume).
bool SameObject(const QString& a, const QString& b) {
  struct stat sa {};
  struct stat sb {};
  return ::lstat(QFile::encodeName(a).constData(), &sa) == 0 &&
         ::lstat(QFile::encodeName(b).constData(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

void MovePaths(QTreeWidgetItem* node, const QString& newPath) {
  node->setData(0, kPathRole, newPath);
  for (int i = 0; i < node->childCount(); ++i) {
    QTreeWidgetItem* child = node->child(i);
    const QString name = QFileInfo(TShellTreeView::FolderPath(child)).fileName();
    MovePaths(child, JoinFolderPath(newPath, name));
  }
}

void ExpandedBelow(const QTreeWidgetItem* node, QStringList& paths) {
  for (int i = 0; i < node->childCount(); ++i) {
    const QTreeWidgetItem* child = node->child(i);
    if (!child->isExpanded())
      continue;
    paths << TShellTreeView::PathText(child);
    ExpandedBelow(child, paths);
  }
}
}  // namespace

TShellTreeView::TShellTreeView(QWidget* parent, RootLister roots)
    : QTreeWidget(parent), roots_(roots ? std::move(roots) : RootLister(&MountedVolumeRoots)) {
  setColumnCount(1);
  setHeaderHidden(true);
  // Long names scroll sideways rather than being cut short.
  header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  header()->setStretchLastSection(false);
  setRootIsDecorated(false);
  setIndentation(19);
  setUniformRowHeights(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
  captionDelegate_ = std::make_unique<CaptionEditDelegate>(
      [this](const QPersistentModelIndex& index, const QString& name) {
        QTimer::singleShot(0, this,
                           [this, index, name] { Guarded([&] { CaptionEdited(index, name); }); });
      });
  setItemDelegate(captionDelegate_.get());

  GuardedConnect(this, &QTreeWidget::itemExpanded, this,
                 [this](QTreeWidgetItem* node) { NodeExpanded(node); });
  GuardedConnect(this, &QTreeWidget::itemSelectionChanged, this, [this] { SelectionChanged(); });
  BuildComputerNode();
}

TShellTreeView::~TShellTreeView() {
  setItemDelegate(nullptr);
}

TShellTreeView::NodeKind TShellTreeView::KindOf(const QTreeWidgetItem* node) {
  return static_cast<NodeKind>(node->data(0, kKindRole).toInt());
}

QString TShellTreeView::FolderPath(const QTreeWidgetItem* node) {
  return node->data(0, kPathRole).toString();
}

QString TShellTreeView::PathText(const QTreeWidgetItem* node) {
  switch (KindOf(node)) {
    case NodeKind::Computer:
      return node->text(0);
    case NodeKind::Volume:
      return JoinFolderPath(FolderPath(node), QString());
    case NodeKind::Folder:
      break;
  }
  return FolderPath(node);
}

QTreeWidgetItem* TShellTreeView::ComputerNode() const {
  return topLevelItem(0);
}

QTreeWidgetItem* TShellTreeView::SelectedNode() const {
  const QList<QTreeWidgetItem*> selected = selectedItems();
  return selected.isEmpty() ? nullptr : selected.first();
}

QString TShellTreeView::SelectedPathText() const {
  const QTreeWidgetItem* node = SelectedNode();
  return node ? PathText(node) : QString();
}

QTreeWidgetItem* TShellTreeView::FindNode(const QString& pathText) const {
  for (QTreeWidgetItemIterator it(const_cast<TShellTreeView*>(this)); *it; ++it) {
    if (PathText(*it) == pathText)
      return *it;
  }
  return nullptr;
}

QTreeWidgetItem* TShellTreeView::FindNodeBelow(QTreeWidgetItem* node,
                                               const QString& pathText) const {
  for (int i = 0; i < node->childCount(); ++i) {
    QTreeWidgetItem* child = node->child(i);
    if (PathText(child) == pathText)
      return child;
    if (QTreeWidgetItem* found = FindNodeBelow(child, pathText))
      return found;
  }
  return nullptr;
}

void TShellTreeView::BuildComputerNode() {
  auto computer = MakeNode(NodeKind::Computer, QString(), tr("计算机"));
  QTreeWidgetItem* node = computer.get();
  addTopLevelItem(computer.release());
  node->setExpanded(true);
  setCurrentItem(node);
}

std::unique_ptr<QTreeWidgetItem> TShellTreeView::MakeNode(NodeKind kind, const QString& path,
                                                          const QString& caption) const {
  auto node = std::make_unique<QTreeWidgetItem>(QStringList{caption});
  node->setData(0, kKindRole, static_cast<int>(kind));
  node->setData(0, kPathRole, path);
  node->setData(0, kReadRole, false);
  Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  // Mount points and the computer itself cannot take another name.
  if (kind == NodeKind::Folder)
    flags |= Qt::ItemIsEditable;
  node->setFlags(flags);
  switch (kind) {
    case NodeKind::Computer:
      node->setIcon(0, icons_.icon(QAbstractFileIconProvider::Computer));
      break;
    case NodeKind::Volume:
      node->setIcon(0, icons_.icon(QAbstractFileIconProvider::Drive));
      break;
    case NodeKind::Folder:
      node->setIcon(0, icons_.icon(QFileInfo(path)));
      break;
  }
  SetHasChildrenMark(node.get(), kind == NodeKind::Computer || HasSubfolders(path));
  return node;
}

void TShellTreeView::NodeExpanded(QTreeWidgetItem* node) {
  ReadChildren(node);
  if (node->childCount() == 0) {
    // An empty or unreadable folder loses its expand button.
    SetHasChildrenMark(node, false);
    node->setExpanded(false);
  }
}

void TShellTreeView::ReadChildren(QTreeWidgetItem* node) {
  if (node->data(0, kReadRole).toBool())
    return;
  node->setData(0, kReadRole, true);
  WaitCursor wait;
  UpdatesSuspended frozen(this);
  QList<QTreeWidgetItem*> children;
  auto adopt = [&](std::unique_ptr<QTreeWidgetItem> child) { children << child.release(); };
  if (KindOf(node) == NodeKind::Computer) {
    for (const QString& root : roots_()) {
      const QString path = QDir::cleanPath(root);
      adopt(MakeNode(NodeKind::Volume, path, path));
    }
  } else {
    const QString folder = FolderPath(node);
    for (const QString& name : ListSubfolders(folder)) {
      adopt(MakeNode(NodeKind::Folder, JoinFolderPath(folder, name), name));
    }
  }
  node->addChildren(children);
  SetHasChildrenMark(node, !children.isEmpty());
}

void TShellTreeView::DropChildren(QTreeWidgetItem* node) {
  for (QTreeWidgetItem* child : node->takeChildren()) {
    std::unique_ptr<QTreeWidgetItem> owned(child);
  }
  node->setData(0, kReadRole, false);
}

void TShellTreeView::SelectionChanged() {
  if (rebuilding_ == 0)
    Q_EMIT Change();
}

QTreeWidgetItem* TShellTreeView::ContextMenuTarget(const QContextMenuEvent& event) const {
  if (event.reason() == QContextMenuEvent::Mouse) {
    if (QTreeWidgetItem* under = itemAt(event.pos()))
      return under;
  }
  return SelectedNode();
}

std::unique_ptr<QMenu> TShellTreeView::BuildContextMenu(QTreeWidgetItem* target) {
  auto menu = std::make_unique<QMenu>();
  const NodeKind kind = KindOf(target);
  const bool isFolder = kind == NodeKind::Folder;
  const bool onDisk = kind != NodeKind::Computer;
  // The node may be gone by the time a command runs; look it up again then.
  const QPersistentModelIndex index(indexFromItem(target));
  auto add = [&](const QString& text, bool enabled,
                 void (TShellTreeView::*command)(QTreeWidgetItem*)) {
    QAction* action = menu->addAction(text);
    action->setEnabled(enabled);
    GuardedConnect(action, &QAction::triggered, this, [this, index, command](bool) {
      if (QTreeWidgetItem* node = itemFromIndex(index))
        (this->*command)(node);
    });
  };
  add(tr("打开"), onDisk, &TShellTreeView::OpenFolder);
  add(tr("新建文件夹"), onDisk, &TShellTreeView::NewFolder);
  add(tr("重命名"), isFolder, &TShellTreeView::StartRename);
  add(tr("删除"), isFolder, &TShellTreeView::DeleteFolder);
  menu->addSeparator();
  add(tr("刷新"), true, &TShellTreeView::RefreshNode);
  return menu;
}

void TShellTreeView::contextMenuEvent(QContextMenuEvent* event) {
  Guarded([&] {
    QTreeWidgetItem* target = ContextMenuTarget(*event);
    if (!target)
      return;
    const QPoint at = event->reason() == QContextMenuEvent::Mouse
                          ? event->globalPos()
                          : viewport()->mapToGlobal(QPoint(4, 4));
    BuildContextMenu(target)->exec(at);
  });
}

void TShellTreeView::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton) {
    event->accept();
    return;
  }
  QTreeWidget::mousePressEvent(event);
}

void TShellTreeView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton) {
    event->accept();
    return;
  }
  QTreeWidget::mouseReleaseEvent(event);
}

void TShellTreeView::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton) {
    event->accept();
    return;
  }
  QTreeWidget::mouseDoubleClickEvent(event);
}

void TShellTreeView::OpenFolder(QTreeWidgetItem* node) {
  if (KindOf(node) == NodeKind::Computer)
    return;
  const QString path = FolderPath(node);
  if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path))) {
    RaiseError(FormatMessage("Cannot open \"%s\"", path.toUtf8().constData()));
  }
}

void TShellTreeView::NewFolder(QTreeWidgetItem* node) {
  if (KindOf(node) == NodeKind::Computer)
    return;
  const QString path = JoinFolderPath(FolderPath(node), FreeNewFolderName(FolderPath(node)));
  if (::mkdir(QFile::encodeName(path).constData(), 0777) != 0) {
    RaiseError(FormatMessage("Cannot create folder \"%s\". %s", path.toUtf8().constData(),
                             std::strerror(errno)));
  }
  RefreshNode(node);
  node->setExpanded(true);
  if (QTreeWidgetItem* created = FindNodeBelow(node, path)) {
    scrollToItem(created);
    editItem(created);
  }
}

void TShellTreeView::DeleteFolder(QTreeWidgetItem* node) {
  if (KindOf(node) != NodeKind::Folder)
    return;
  const QString path = FolderPath(node);
  if (!MoveToTrash(path) && PathExists(path)) {
    RaiseError(FormatMessage("Cannot move \"%s\" to the trash", path.toUtf8().constData()));
  }
  if (PathExists(path))
    return;
  QTreeWidgetItem* parent = node->parent();
  std::unique_ptr<QTreeWidgetItem> gone(parent->takeChild(parent->indexOfChild(node)));
  if (parent->childCount() == 0)
    SetHasChildrenMark(parent, false);
}

void TShellTreeView::RefreshNode(QTreeWidgetItem* node) {
  const QString selectedBefore = SelectedPathText();
  QTreeWidgetItem* selected = SelectedNode();
  const bool selectionBelow = IsBelow(selected, node);
  QTreeWidgetItem* top = itemAt(QPoint(0, 0));
  const bool topBelow = IsBelow(top, node);
  const QString topPath = top ? PathText(top) : QString();
  QStringList expanded;
  ExpandedBelow(node, expanded);
  const bool wasExpanded = node->isExpanded();
  {
    Counted rebuilding(rebuilding_);
    DropChildren(node);
    if (wasExpanded) {
      NodeExpanded(node);
      for (const QString& path : expanded) {
        if (QTreeWidgetItem* again = FindNodeBelow(node, path))
          again->setExpanded(true);
      }
    } else {
      SetHasChildrenMark(node,
                         KindOf(node) == NodeKind::Computer || HasSubfolders(FolderPath(node)));
    }
    if (selectionBelow) {
      QTreeWidgetItem* again = FindNodeBelow(node, selectedBefore);
      setCurrentItem(again ? again : node);
    }
    if (topBelow)
      top = FindNodeBelow(node, topPath);
    if (top)
      scrollToItem(top, QAbstractItemView::PositionAtTop);
  }
  if (SelectedPathText() != selectedBefore)
    Q_EMIT Change();
}

void TShellTreeView::StartRename(QTreeWidgetItem* node) {
  if (KindOf(node) == NodeKind::Folder)
    editItem(node);
}

void TShellTreeView::RenameFolder(QTreeWidgetItem* node, const QString& newName) {
  if (KindOf(node) != NodeKind::Folder)
    return;
  const QString oldPath = FolderPath(node);
  const QString oldName = QFileInfo(oldPath).fileName();
  if (newName.isEmpty() || newName == oldName)
    return;
  const QString folder = FolderPath(node->parent());
  const QString newPath = JoinFolderPath(folder, newName);
  // A name with a separator would move the folder elsewhere; and where the file system has no
  // no-replace rename, an empty folder of the new name would silently be replaced.
  const bool free = !PathExists(newPath) || SameObject(oldPath, newPath);
  if (!IsPlainFolderName(newName) || !free || !QDir(folder).rename(oldName, newName)) {
    RaiseError(FormatMessage("Rename to %s failed", newName.toUtf8().constData()));
  }
  node->setText(0, newName);
  MovePaths(node, newPath);
}

void TShellTreeView::CaptionEdited(const QPersistentModelIndex& index, const QString& newName) {
  if (QTreeWidgetItem* node = itemFromIndex(index))
    RenameFolder(node, newName);
}
