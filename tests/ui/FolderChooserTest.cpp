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

#include "ShellFolders.h"
#include "platform/HandlerGuard.h"
#include "uFrmSelDir.h"

namespace {
using NodeKind = TShellTreeView::NodeKind;

void ProcessUntil(const std::function<bool()>& done) {
  QDeadlineTimer deadline(5000);
  while (!done() && !deadline.hasExpired()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
}

QStringList Captions(const QTreeWidgetItem* node) {
  QStringList captions;
  for (int i = 0; i < node->childCount(); ++i)
    captions << node->child(i)->text(0);
  return captions;
}

class FolderChooserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_temp.isValid());
    m_vol = m_temp.path() + "/vol";
    for (const char* folder :
         {"vol/Alpha/inner", "vol/beta", "vol/file10", "vol/file9", "vol/.hidden/x", "other"}) {
      ASSERT_TRUE(QDir(m_temp.path()).mkpath(folder));
    }
    QFile file(m_vol + "/plain.txt");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    SetErrorPresenter([this](const std::string& text) { m_errors.push_back(text); });
    m_dialog = std::make_unique<TFrmSelDir>(nullptr, [this] {
      return QStringList{m_vol, m_temp.path() + "/other"};
    });
    m_tree = m_dialog->ShellTreeView1();
  }
  void TearDown() override { SetErrorPresenter({}); }

  QTreeWidgetItem* Node(const QString& pathText) {
    QTreeWidgetItem* node = m_tree->FindNode(pathText);
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
    QTimer::singleShot(0, m_dialog.get(), whileOpen);
    return m_dialog->ShowModal();
  }
  void TriggerMenu(QTreeWidgetItem* target, const QString& command) {
    const auto menu = m_tree->BuildContextMenu(target);
    for (QAction* action : menu->actions()) {
      if (action->text() == command)
        action->trigger();
    }
  }
  void EditCaption(QTreeWidgetItem* node, const QString& text) {
    m_tree->StartRename(node);
    auto* editor = m_tree->viewport()->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    editor->setText(text);
    QTest::keyClick(editor, Qt::Key_Return);
    ProcessUntil([&] { return m_tree->viewport()->findChild<QLineEdit*>() == nullptr; });
  }

  QTemporaryDir m_temp;
  QString m_vol;
  std::vector<std::string> m_errors;
  std::unique_ptr<TFrmSelDir> m_dialog;
  TShellTreeView* m_tree = nullptr;
};

TEST_F(FolderChooserTest, StartsOnTheComputerWithVisibleFoldersInNameOrder) {
  EXPECT_EQ(m_dialog->windowTitle(), "选择目录");
  EXPECT_EQ(m_dialog->size(), QSize(545, 257));
  EXPECT_EQ(m_tree->SelectedNode(), m_tree->ComputerNode());
  EXPECT_EQ(m_dialog->EdFileDirText(), "计算机");
  EXPECT_EQ(Captions(m_tree->ComputerNode()), (QStringList{m_vol, m_temp.path() + "/other"}));

  QTreeWidgetItem* vol = Expanded(m_vol + "/");
  // Hidden folders and files stay out; digits compare as numbers, case is ignored.
  EXPECT_EQ(Captions(vol), (QStringList{"Alpha", "beta", "file9", "file10"}));
  EXPECT_EQ(Node(m_vol + "/Alpha")->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
  EXPECT_EQ(Node(m_vol + "/beta")->childIndicatorPolicy(),
            QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

TEST(MountedVolumeRootsTest, FileSystemRootFirstThenDistinctUserFolders) {
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

TEST_F(FolderChooserTest, FieldTakesThePathTextOfEachSelection) {
  Expanded(m_vol + "/");
  const struct {
    QString pathText;
    NodeKind kind;
  } cases[] = {{m_vol + "/", NodeKind::Volume},
               {m_vol + "/Alpha", NodeKind::Folder},
               {"计算机", NodeKind::Computer}};
  for (const auto& c : cases) {
    QTreeWidgetItem* node = Node(c.pathText);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(TShellTreeView::KindOf(node), c.kind);
    m_tree->setCurrentItem(node);
    EXPECT_EQ(m_dialog->EdFileDirText(), c.pathText);
  }
  m_tree->clearSelection();
  EXPECT_EQ(m_dialog->EdFileDirText(), "");
}

TEST_F(FolderChooserTest, ConfirmHandsBackTypedTextAndCancelKeepsTheState) {
  const int confirmed = OpenAnd([&] {
    EXPECT_EQ(m_dialog->Tag(), 0);
    m_dialog->EdFileDir()->clear();
    QTest::keyClicks(m_dialog->EdFileDir(), "any text ::");
    EXPECT_EQ(m_tree->SelectedNode(), m_tree->ComputerNode());  // typing does not move it
    QTest::mouseClick(m_dialog->BtnSure(), Qt::LeftButton);
  });
  EXPECT_EQ(confirmed, 1);
  EXPECT_EQ(m_dialog->EdFileDirText(), "any text ::");

  Expanded(m_vol + "/");
  const int cancelled = OpenAnd([&] {
    m_tree->setCurrentItem(Node(m_vol + "/Alpha"));
    QTest::mouseClick(m_dialog->BtnUnLoadReady(), Qt::LeftButton);
  });
  EXPECT_EQ(cancelled, 0);
  const int closed = OpenAnd([&] {
    EXPECT_EQ(m_dialog->EdFileDirText(), m_vol + "/Alpha");
    EXPECT_EQ(m_tree->SelectedPathText(), m_vol + "/Alpha");
    m_dialog->close();  // the title bar's close
  });
  EXPECT_EQ(closed, 0);
  EXPECT_EQ(m_dialog->Tag(), 0);
}

TEST_F(FolderChooserTest, EscapeAndEnterDoNotCloseTheDialog) {
  bool stayedOpen = false;
  OpenAnd([&] {
    for (QWidget* target : {static_cast<QWidget*>(m_dialog->EdFileDir()),
                            static_cast<QWidget*>(m_tree), static_cast<QWidget*>(m_dialog.get())}) {
      for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
        QTest::keyClick(target, key);
      }
    }
    QCoreApplication::processEvents();
    stayedOpen = m_dialog->isVisible();
    QTest::mouseClick(m_dialog->BtnUnLoadReady(), Qt::LeftButton);
  });
  EXPECT_TRUE(stayedOpen);
  EXPECT_EQ(m_dialog->Tag(), 0);
}

TEST_F(FolderChooserTest, FolderThatCannotBeReadLosesItsExpandMark) {
  Expanded(m_vol + "/");
  QTreeWidgetItem* alpha = Node(m_vol + "/Alpha");
  ASSERT_EQ(alpha->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
  // Gone between the listing of its parent and its own expansion, a file in its place.
  ASSERT_TRUE(QDir(m_vol + "/Alpha").removeRecursively());
  QFile file(m_vol + "/Alpha");
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  alpha->setExpanded(true);
  EXPECT_EQ(alpha->childCount(), 0);
  EXPECT_FALSE(alpha->isExpanded());
  EXPECT_EQ(alpha->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicatorWhenChildless);
  EXPECT_TRUE(m_errors.empty());
}

TEST_F(FolderChooserTest, RenameInPlaceKeepsTheFieldUntilTheSelectionMoves) {
  Expanded(m_vol + "/");
  QTreeWidgetItem* alpha = Expanded(m_vol + "/Alpha");
  m_tree->setCurrentItem(alpha);
  EditCaption(alpha, "Gamma");
  EXPECT_TRUE(m_errors.empty());
  EXPECT_TRUE(QFileInfo(m_vol + "/Gamma/inner").isDir());
  EXPECT_EQ(alpha->text(0), "Gamma");
  EXPECT_EQ(TShellTreeView::PathText(alpha->child(0)), m_vol + "/Gamma/inner");
  EXPECT_EQ(m_dialog->EdFileDirText(), m_vol + "/Alpha");
  m_tree->setCurrentItem(alpha->child(0));
  EXPECT_EQ(m_dialog->EdFileDirText(), m_vol + "/Gamma/inner");
  EXPECT_FALSE(Node(m_vol + "/")->flags() & Qt::ItemIsEditable);
}

TEST_F(FolderChooserTest, FailedRenameReportsAndKeepsTheCaption) {
  Expanded(m_vol + "/");
  QTreeWidgetItem* beta = Node(m_vol + "/beta");
  for (const QString name : {"plain.txt", "Alpha", "x/y", ".."}) {
    m_errors.clear();
    EditCaption(beta, name);
    ASSERT_EQ(m_errors.size(), 1u) << name.toStdString();
    EXPECT_EQ(m_errors[0], "Rename to " + name.toStdString() + " failed.");
    EXPECT_EQ(beta->text(0), "beta");
    EXPECT_TRUE(QFileInfo(m_vol + "/beta").isDir());
  }
  EXPECT_TRUE(QFileInfo(m_vol + "/Alpha/inner").isDir());
}

TEST_F(FolderChooserTest, RefreshShowsNewFoldersAndRestoresExpansionAndSelection) {
  QTreeWidgetItem* vol = Expanded(m_vol + "/");
  Expanded(m_vol + "/Alpha");
  m_tree->setCurrentItem(Node(m_vol + "/Alpha/inner"));
  m_dialog->EdFileDir()->setText("typed");
  ASSERT_TRUE(QDir(m_vol).mkdir("delta"));
  TriggerMenu(vol, "刷新");
  EXPECT_EQ(Captions(vol), (QStringList{"Alpha", "beta", "delta", "file9", "file10"}));
  EXPECT_TRUE(Node(m_vol + "/Alpha")->isExpanded());
  EXPECT_EQ(m_tree->SelectedPathText(), m_vol + "/Alpha/inner");
  EXPECT_EQ(m_dialog->EdFileDirText(), "typed");  // the selection did not change
}

TEST_F(FolderChooserTest, RightClickNeitherSelectsNorTouchesTheField) {
  QTreeWidgetItem* vol = Expanded(m_vol + "/");
  QTreeWidgetItem* beta = Node(m_vol + "/beta");
  m_dialog->show();
  const QPoint onBeta = m_tree->visualItemRect(beta).center();
  QTest::mouseClick(m_tree->viewport(), Qt::RightButton, {}, onBeta);
  QTimer::singleShot(0, [] {
    if (QWidget* popup = QApplication::activePopupWidget())
      popup->close();
  });
  QContextMenuEvent click(QContextMenuEvent::Mouse, onBeta,
                          m_tree->viewport()->mapToGlobal(onBeta));
  QApplication::sendEvent(m_tree->viewport(), &click);
  EXPECT_EQ(m_tree->SelectedNode(), m_tree->ComputerNode());
  EXPECT_EQ(m_dialog->EdFileDirText(), "计算机");

  EXPECT_EQ(m_tree->ContextMenuTarget(click), beta);
  QContextMenuEvent key(QContextMenuEvent::Keyboard, onBeta, m_tree->mapToGlobal(onBeta));
  EXPECT_EQ(m_tree->ContextMenuTarget(key), m_tree->ComputerNode());
  const QPoint below(5, m_tree->viewport()->height() - 2);
  QContextMenuEvent empty(QContextMenuEvent::Mouse, below, m_tree->mapToGlobal(below));
  EXPECT_EQ(m_tree->ContextMenuTarget(empty), m_tree->ComputerNode());

  // Only refresh applies to the computer; a volume cannot be renamed or deleted.
  const struct {
    QTreeWidgetItem* target;
    QList<bool> enabled;  // open, new folder, rename, delete, refresh
  } menus[] = {{m_tree->ComputerNode(), {false, false, false, false, true}},
               {vol, {true, true, false, false, true}},
               {beta, {true, true, true, true, true}}};
  for (const auto& m : menus) {
    QList<bool> enabled;
    const auto menu = m_tree->BuildContextMenu(m.target);
    for (QAction* action : menu->actions()) {
      if (!action->isSeparator())
        enabled << action->isEnabled();
    }
    EXPECT_EQ(enabled, m.enabled) << m.target->text(0).toStdString();
  }
  m_dialog->hide();
}

TEST_F(FolderChooserTest, NewFolderTakesAFreeNameAndStartsEditing) {
  QTreeWidgetItem* vol = Node(m_vol + "/");
  TriggerMenu(vol, "新建文件夹");
  TriggerMenu(vol, "新建文件夹");
  EXPECT_TRUE(m_errors.empty());
  EXPECT_TRUE(QFileInfo(m_vol + "/新建文件夹").isDir());
  EXPECT_TRUE(QFileInfo(m_vol + "/新建文件夹 (2)").isDir());
  EXPECT_TRUE(vol->isExpanded());
  EXPECT_NE(m_tree->FindNode(m_vol + "/新建文件夹 (2)"), nullptr);
  EXPECT_NE(m_tree->viewport()->findChild<QLineEdit*>(), nullptr);  // editing the new name
}

TEST_F(FolderChooserTest, DeleteMovesToTheTrashAndKeepsTheNodeWhenItCannot) {
  QTemporaryDir data;
  const QByteArray oldData = qgetenv("XDG_DATA_HOME");
  qputenv("XDG_DATA_HOME", data.path().toUtf8());
  Expanded(m_vol + "/");
  m_tree->setCurrentItem(Node(m_vol + "/beta"));
  TriggerMenu(Node(m_vol + "/beta"), "删除");
  EXPECT_TRUE(m_errors.empty());
  EXPECT_FALSE(QFileInfo::exists(m_vol + "/beta"));
  EXPECT_TRUE(QFileInfo(data.path() + "/Trash/files/beta").isDir());
  EXPECT_EQ(m_tree->FindNode(m_vol + "/beta"), nullptr);
  EXPECT_EQ(m_dialog->EdFileDirText(), m_tree->SelectedPathText());  // no trace of the gone

  // A trash that cannot be made: the folder stays, and so does its node.
  ASSERT_TRUE(QDir(data.path() + "/Trash").removeRecursively());
  QFile blocker(data.path() + "/Trash");
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  TriggerMenu(Node(m_vol + "/file9"), "删除");
  ASSERT_EQ(m_errors.size(), 1u);
  EXPECT_EQ(m_errors[0], "Cannot move \"" + (m_vol + "/file9").toStdString() + "\" to the trash.");
  EXPECT_TRUE(QFileInfo(m_vol + "/file9").isDir());
  EXPECT_FALSE(QFileInfo::exists("files/file9"));  // not in a stand-in trash either
  EXPECT_NE(m_tree->FindNode(m_vol + "/file9"), nullptr);
  qputenv("XDG_DATA_HOME", oldData);
}
}  // namespace
