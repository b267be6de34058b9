// The folder chooser against a private folder tree standing in for the mounted volumes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <string>
#include <vector>

#include "HarnessEventLoop.h"
#include "HarnessFiles.h"
#include "platform/runtime/ErrorBox.h"
#include "uFrmSelDir.h"
#include "widgets/ShellFolders.h"

namespace {
using NodeKind = TShellTreeView::NodeKind;

QStringList Captions(const QTreeWidgetItem* node) {
  QStringList captions;
  for (int i = 0; i < node->childCount(); ++i)
    captions << node->child(i)->text(0);
  return captions;
}

class uFrmSelDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.isValid());
    vol_ = temp_.path() + "/vol";
    for (const char* folder :
         {"vol/Alpha/inner", "vol/beta", "vol/file10", "vol/file9", "vol/.hidden/x", "other"}) {
      ASSERT_TRUE(QDir(temp_.path()).mkpath(folder));
    }
    ASSERT_TRUE(harness::WriteFile((vol_ + "/plain.txt").toStdString(), ""));
    SetErrorPresenter([this](const std::string& text) { errors_.push_back(text); });
    dialog_ = std::make_unique<TFrmSelDir>(nullptr, [this] {
      return QStringList{vol_, temp_.path() + "/other"};
    });
    tree_ = dialog_->ShellTreeView1();
  }
  void TearDown() override { SetErrorPresenter({}); }

  QTreeWidgetItem* Node(const QString& pathText) {
    QTreeWidgetItem* node = tree_->FindNode(pathText);
    EXPECT_NE(node, nullptr) << pathText.toStdString();
    return node;
  }
  QTreeWidgetItem* Expanded(const QString& pathText) {
    QTreeWidgetItem* node = Node(pathText);
    if (node)
      node->setExpanded(true);
    return node;
  }
  // Runs `whileOpen` inside the modal loop; it must close the dialog.
  int OpenAnd(const std::function<void()>& whileOpen) {
    QTimer::singleShot(0, dialog_.get(), whileOpen);
    return dialog_->ShowModal();
  }
  void TriggerMenu(QTreeWidgetItem* target, const QString& command) {
    const auto menu = tree_->BuildContextMenu(target);
    for (QAction* action : menu->actions()) {
      if (action->text() == command)
        action->trigger();
    }
  }
  void EditCaption(QTreeWidgetItem* node, const QString& text) {
    tree_->StartRename(node);
    auto* editor = tree_->viewport()->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    editor->setText(text);
    QTest::keyClick(editor, Qt::Key_Return);
    harness::WaitFor([&] { return tree_->viewport()->findChild<QLineEdit*>() == nullptr; });
  }

  QTemporaryDir temp_;
  QString vol_;
  std::vector<std::string> errors_;
  std::unique_ptr<TFrmSelDir> dialog_;
  TShellTreeView* tree_ = nullptr;
};

TEST_F(uFrmSelDirTest, StartsOnTheComputerWithVisibleFoldersInNameOrder) {
  EXPECT_EQ(dialog_->windowTitle(), "选择目录");
  EXPECT_EQ(dialog_->size(), QSize(545, 257));
  EXPECT_EQ(tree_->SelectedNode(), tree_->ComputerNode());
  EXPECT_EQ(dialog_->EdFileDirText(), "计算机");
  EXPECT_EQ(Captions(tree_->ComputerNode()), (QStringList{vol_, temp_.path() + "/other"}));

  QTreeWidgetItem* vol = Expanded(vol_ + "/");
  // Hidden folders and files stay out; digits compare as numbers, case is ignored.
  EXPECT_EQ(Captions(vol), (QStringList{"Alpha", "beta", "file9", "file10"}));
  EXPECT_EQ(Node(vol_ + "/Alpha")->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
  EXPECT_EQ(Node(vol_ + "/beta")->childIndicatorPolicy(),
            QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

TEST_F(uFrmSelDirTest, MountedVolumesAreTheFileSystemRootFirstThenDistinctUserFolders) {
  const QStringList roots = MountedVolumeRoots();
  ASSERT_FALSE(roots.isEmpty());
  EXPECT_EQ(roots.first(), "/");
  EXPECT_EQ(roots.size(), QSet<QString>(roots.begin(), roots.end()).size());
  for (const QString& root : roots) {
    EXPECT_TRUE(QFileInfo(root).isDir()) << root.toStdString();
    for (const char* system : {"/proc/", "/sys/", "/dev/", "/run/user/", "/boot/"}) {
      EXPECT_FALSE((root + "/").startsWith(system)) << root.toStdString();
    }
  }
}

TEST_F(uFrmSelDirTest, FieldTakesThePathTextOfEachSelection) {
  Expanded(vol_ + "/");
  const struct {
    QString pathText;
    NodeKind kind;
  } cases[] = {{vol_ + "/", NodeKind::Volume},
               {vol_ + "/Alpha", NodeKind::Folder},
               {"计算机", NodeKind::Computer}};
  for (const auto& c : cases) {
    QTreeWidgetItem* node = Node(c.pathText);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(TShellTreeView::KindOf(node), c.kind);
    tree_->setCurrentItem(node);
    EXPECT_EQ(dialog_->EdFileDirText(), c.pathText);
  }
  tree_->clearSelection();
  EXPECT_EQ(dialog_->EdFileDirText(), "");
}

TEST_F(uFrmSelDirTest, ConfirmHandsBackTypedTextAndCancelKeepsTheState) {
  const int confirmed = OpenAnd([&] {
    EXPECT_EQ(dialog_->Tag(), 0);
    dialog_->EdFileDir()->clear();
    QTest::keyClicks(dialog_->EdFileDir(), "any text ::");
    EXPECT_EQ(tree_->SelectedNode(), tree_->ComputerNode());  // typing does not move it
    QTest::mouseClick(dialog_->BtnSure(), Qt::LeftButton);
  });
  EXPECT_EQ(confirmed, 1);
  EXPECT_EQ(dialog_->EdFileDirText(), "any text ::");

  Expanded(vol_ + "/");
  const int cancelled = OpenAnd([&] {
    tree_->setCurrentItem(Node(vol_ + "/Alpha"));
    QTest::mouseClick(dialog_->BtnUnLoadReady(), Qt::LeftButton);
  });
  EXPECT_EQ(cancelled, 0);
  const int closed = OpenAnd([&] {
    EXPECT_EQ(dialog_->EdFileDirText(), vol_ + "/Alpha");
    EXPECT_EQ(tree_->SelectedPathText(), vol_ + "/Alpha");
    dialog_->close();  // the title bar's close
  });
  EXPECT_EQ(closed, 0);
  EXPECT_EQ(dialog_->Tag(), 0);
}

TEST_F(uFrmSelDirTest, EscapeAndEnterDoNotCloseTheDialog) {
  bool stayedOpen = false;
  OpenAnd([&] {
    for (QWidget* target : {static_cast<QWidget*>(dialog_->EdFileDir()),
                            static_cast<QWidget*>(tree_), static_cast<QWidget*>(dialog_.get())}) {
      for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
        QTest::keyClick(target, key);
      }
    }
    QCoreApplication::processEvents();
    stayedOpen = dialog_->isVisible();
    QTest::mouseClick(dialog_->BtnUnLoadReady(), Qt::LeftButton);
  });
  EXPECT_TRUE(stayedOpen);
  EXPECT_EQ(dialog_->Tag(), 0);
}

TEST_F(uFrmSelDirTest, FolderThatCannotBeReadLosesItsExpandMark) {
  Expanded(vol_ + "/");
  QTreeWidgetItem* alpha = Node(vol_ + "/Alpha");
  ASSERT_EQ(alpha->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
  // Gone between the listing of its parent and its own expansion, a file in its place.
  ASSERT_TRUE(QDir(vol_ + "/Alpha").removeRecursively());
  ASSERT_TRUE(harness::WriteFile((vol_ + "/Alpha").toStdString(), ""));
  alpha->setExpanded(true);
  EXPECT_EQ(alpha->childCount(), 0);
  EXPECT_FALSE(alpha->isExpanded());
  EXPECT_EQ(alpha->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicatorWhenChildless);
  EXPECT_TRUE(errors_.empty());
}

TEST_F(uFrmSelDirTest, RenameInPlaceKeepsTheFieldUntilTheSelectionMoves) {
  Expanded(vol_ + "/");
  QTreeWidgetItem* alpha = Expanded(vol_ + "/Alpha");
  tree_->setCurrentItem(alpha);
  EditCaption(alpha, "Gamma");
  EXPECT_TRUE(errors_.empty());
  EXPECT_TRUE(QFileInfo(vol_ + "/Gamma/inner").isDir());
  EXPECT_EQ(alpha->text(0), "Gamma");
  EXPECT_EQ(TShellTreeView::PathText(alpha->child(0)), vol_ + "/Gamma/inner");
  EXPECT_EQ(dialog_->EdFileDirText(), vol_ + "/Alpha");
  tree_->setCurrentItem(alpha->child(0));
  EXPECT_EQ(dialog_->EdFileDirText(), vol_ + "/Gamma/inner");
  EXPECT_FALSE(Node(vol_ + "/")->flags() & Qt::ItemIsEditable);
}

TEST_F(uFrmSelDirTest, FailedRenameReportsAndKeepsTheCaption) {
  Expanded(vol_ + "/");
  QTreeWidgetItem* beta = Node(vol_ + "/beta");
  for (const QString name : {"plain.txt", "Alpha", "x/y", ".."}) {
    errors_.clear();
    EditCaption(beta, name);
    ASSERT_EQ(errors_.size(), 1u) << name.toStdString();
    EXPECT_EQ(errors_[0], "Rename to " + name.toStdString() + " failed.");
    EXPECT_EQ(beta->text(0), "beta");
    EXPECT_TRUE(QFileInfo(vol_ + "/beta").isDir());
  }
  EXPECT_TRUE(QFileInfo(vol_ + "/Alpha/inner").isDir());
}

TEST_F(uFrmSelDirTest, RefreshShowsNewFoldersAndRestoresExpansionAndSelection) {
  QTreeWidgetItem* vol = Expanded(vol_ + "/");
  Expanded(vol_ + "/Alpha");
  tree_->setCurrentItem(Node(vol_ + "/Alpha/inner"));
  dialog_->EdFileDir()->setText("typed");
  ASSERT_TRUE(QDir(vol_).mkdir("delta"));
  TriggerMenu(vol, "刷新");
  EXPECT_EQ(Captions(vol), (QStringList{"Alpha", "beta", "delta", "file9", "file10"}));
  EXPECT_TRUE(Node(vol_ + "/Alpha")->isExpanded());
  EXPECT_EQ(tree_->SelectedPathText(), vol_ + "/Alpha/inner");
  EXPECT_EQ(dialog_->EdFileDirText(), "typed");  // the selection did not change
}

TEST_F(uFrmSelDirTest, RightClickNeitherSelectsNorTouchesTheField) {
  QTreeWidgetItem* vol = Expanded(vol_ + "/");
  QTreeWidgetItem* beta = Node(vol_ + "/beta");
  dialog_->show();
  const QPoint onBeta = tree_->visualItemRect(beta).center();
  QTest::mouseClick(tree_->viewport(), Qt::RightButton, {}, onBeta);
  QTimer::singleShot(0, [] {
    if (QWidget* popup = QApplication::activePopupWidget())
      popup->close();
  });
  QContextMenuEvent click(QContextMenuEvent::Mouse, onBeta, tree_->viewport()->mapToGlobal(onBeta));
  QApplication::sendEvent(tree_->viewport(), &click);
  EXPECT_EQ(tree_->SelectedNode(), tree_->ComputerNode());
  EXPECT_EQ(dialog_->EdFileDirText(), "计算机");

  EXPECT_EQ(tree_->ContextMenuTarget(click), beta);
  QContextMenuEvent key(QContextMenuEvent::Keyboard, onBeta, tree_->mapToGlobal(onBeta));
  EXPECT_EQ(tree_->ContextMenuTarget(key), tree_->ComputerNode());
  const QPoint below(5, tree_->viewport()->height() - 2);
  QContextMenuEvent empty(QContextMenuEvent::Mouse, below, tree_->mapToGlobal(below));
  EXPECT_EQ(tree_->ContextMenuTarget(empty), tree_->ComputerNode());

  // Only refresh applies to the computer; a volume cannot be renamed or deleted.
  const struct {
    QTreeWidgetItem* target;
    QList<bool> enabled;  // open, new folder, rename, delete, refresh
  } menus[] = {{tree_->ComputerNode(), {false, false, false, false, true}},
               {vol, {true, true, false, false, true}},
               {beta, {true, true, true, true, true}}};
  for (const auto& m : menus) {
    QList<bool> enabled;
    const auto menu = tree_->BuildContextMenu(m.target);
    for (QAction* action : menu->actions()) {
      if (!action->isSeparator())
        enabled << action->isEnabled();
    }
    EXPECT_EQ(enabled, m.enabled) << m.target->text(0).toStdString();
  }
  dialog_->hide();
}

TEST_F(uFrmSelDirTest, NewFolderTakesAFreeNameAndStartsEditing) {
  QTreeWidgetItem* vol = Node(vol_ + "/");
  TriggerMenu(vol, "新建文件夹");
  TriggerMenu(vol, "新建文件夹");
  EXPECT_TRUE(errors_.empty());
  EXPECT_TRUE(QFileInfo(vol_ + "/新建文件夹").isDir());
  EXPECT_TRUE(QFileInfo(vol_ + "/新建文件夹 (2)").isDir());
  EXPECT_TRUE(vol->isExpanded());
  EXPECT_NE(tree_->FindNode(vol_ + "/新建文件夹 (2)"), nullptr);
  EXPECT_NE(tree_->viewport()->findChild<QLineEdit*>(), nullptr);  // editing the new name
}

TEST_F(uFrmSelDirTest, DeleteMovesToTheTrashAndKeepsTheNodeWhenItCannot) {
  QTemporaryDir data;
  const QByteArray oldData = qgetenv("XDG_DATA_HOME");
  qputenv("XDG_DATA_HOME", data.path().toUtf8());
  Expanded(vol_ + "/");
  tree_->setCurrentItem(Node(vol_ + "/beta"));
  TriggerMenu(Node(vol_ + "/beta"), "删除");
  EXPECT_TRUE(errors_.empty());
  EXPECT_FALSE(QFileInfo::exists(vol_ + "/beta"));
  EXPECT_TRUE(QFileInfo(data.path() + "/Trash/files/beta").isDir());
  EXPECT_EQ(tree_->FindNode(vol_ + "/beta"), nullptr);
  EXPECT_EQ(dialog_->EdFileDirText(), tree_->SelectedPathText());  // no trace of the gone

  // A trash that cannot be made: the folder stays, and so does its node.
  ASSERT_TRUE(QDir(data.path() + "/Trash").removeRecursively());
  ASSERT_TRUE(harness::WriteFile((data.path() + "/Trash").toStdString(), ""));
  TriggerMenu(Node(vol_ + "/file9"), "删除");
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_EQ(errors_[0], "Cannot move \"" + (vol_ + "/file9").toStdString() + "\" to the trash.");
  EXPECT_TRUE(QFileInfo(vol_ + "/file9").isDir());
  EXPECT_FALSE(QFileInfo::exists("files/file9"));  // not in a stand-in trash either
  EXPECT_NE(tree_->FindNode(vol_ + "/file9"), nullptr);
  qputenv("XDG_DATA_HOME", oldData);
}
}  // namespace
