#pragma once
// The folder tree of the folder chooser: one top node for the computer, the file-system root
// and the mounted volumes below it, folders below those. Children are read on first expansion
// and not watched afterwards; the context menu's refresh reads them anew.

#include <QFileIconProvider>
#include <QStringList>
#include <QTreeWidget>

#include <functional>
#include <memory>

class QMenu;

class TShellTreeView : public QTreeWidget {
  Q_OBJECT

 public:
  // The folders shown below the computer node, read at creation and at every refresh of that
  // node. Empty: the file-system root and the mounted volumes (MountedVolumeRoots).
  using RootLister = std::function<QStringList()>;

  enum class NodeKind { Computer, Volume, Folder };

  // Builds the tree: the computer node, expanded and selected.
  explicit TShellTreeView(QWidget* parent = nullptr, RootLister roots = {});
  ~TShellTreeView() override;

  static NodeKind KindOf(const QTreeWidgetItem* node);
  // The folder's absolute path; empty for the computer node.
  static QString FolderPath(const QTreeWidgetItem* node);
  // The text the chooser hands back: a volume root ends in "/", other folders do not, the
  // computer node gives its caption.
  static QString PathText(const QTreeWidgetItem* node);

  QTreeWidgetItem* ComputerNode() const;
  QTreeWidgetItem* SelectedNode() const;
  // The path text of the selected node, empty when nothing is selected.
  QString SelectedPathText() const;
  // The first node already read whose path text is `pathText`; nullptr when none.
  QTreeWidgetItem* FindNode(const QString& pathText) const;

  // The node a context menu event is about: the node under the pointer for a mouse event,
  // else (keyboard, or empty space) the selected node.
  QTreeWidgetItem* ContextMenuTarget(const QContextMenuEvent& event) const;
  // The menu for one node; its commands act on that node when triggered.
  std::unique_ptr<QMenu> BuildContextMenu(QTreeWidgetItem* target);

  // The menu's commands. Each raises EStillwickError on failure.
  void OpenFolder(QTreeWidgetItem* node);
  void NewFolder(QTreeWidgetItem* node);
  void DeleteFolder(QTreeWidgetItem* node);
  // Reads the node's children anew, expands again what was expanded below it and restores
  // the selection and the top visible node where their folders still exist.
  void RefreshNode(QTreeWidgetItem* node);
  // In-place editing of the node's caption; ending it renames the folder (RenameFolder).
  void StartRename(QTreeWidgetItem* node);
  // Gives the node's folder a new name on disk; "Rename to %s failed" when it cannot.
  void RenameFolder(QTreeWidgetItem* node, const QString& newName);

 Q_SIGNALS:
  // After every change of the selection, by the user or by the tree itself.
  void Change();

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;
  // A right click must neither select nor start editing.
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  void BuildComputerNode();
  std::unique_ptr<QTreeWidgetItem> MakeNode(NodeKind kind, const QString& path,
                                            const QString& caption) const;
  void NodeExpanded(QTreeWidgetItem* node);
  void ReadChildren(QTreeWidgetItem* node);
  void DropChildren(QTreeWidgetItem* node);
  void SelectionChanged();
  QTreeWidgetItem* FindNodeBelow(QTreeWidgetItem* node, const QString& pathText) const;
  // Called once the in-place editor has closed, so an error box never opens inside it.
  void CaptionEdited(const QPersistentModelIndex& index, const QString& newName);

  RootLister roots_;
  QFileIconProvider icons_;
  std::unique_ptr<QAbstractItemDelegate> captionDelegate_;
  // Above zero while RefreshNode rebuilds nodes; it reports the net change only.
  int rebuilding_ = 0;
};
