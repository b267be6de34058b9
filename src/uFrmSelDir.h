#pragma once
// The folder chooser: a modal dialog with a folder tree and a text field holding the path of
// the folder selected in it. Created once at start-up and reused, so the tree and the field
// keep their state from one opening to the next.

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

#include "widgets/TShellTreeView.h"

class TFrmSelDir : public QDialog {
  Q_OBJECT

 public:
  // `owner` is the main window: the dialog is modal over it and centred on it. `roots`
  // replaces the mounted volumes below the computer node (tests).
  explicit TFrmSelDir(QWidget* owner = nullptr, TShellTreeView::RootLister roots = {});
  ~TFrmSelDir() override;

  // Shows the dialog modally; returns Tag: 1 when confirmed, 0 otherwise.
  int ShowModal();
  int Tag() const { return tag_; }
  // The text to hand back: a path, the computer's name, or whatever the user typed.
  QString EdFileDirText() const { return edFileDir.text(); }

  QLineEdit* EdFileDir() { return &edFileDir; }
  TShellTreeView* ShellTreeView1() { return &tree_; }
  QToolButton* BtnSure() { return &btnSure; }
  QToolButton* BtnUnLoadReady() { return &btnUnLoadReady; }

 protected:
  void showEvent(QShowEvent* event) override;
  // Enter and Escape do nothing at dialog level.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void FormCreate();
  void FormShow();
  void btnSureClick();
  void btnUnLoadReadyClick();
  void ShellTreeView1Change();

  int tag_ = 0;
  QWidget pl;
  QLabel Label14;
  QLineEdit edFileDir;
  QToolButton btnUnLoadReady;
  QToolButton btnSure;
  TShellTreeView tree_;
};

// The one instance, set by whoever creates it at start-up (right after the main window) and
// cleared when it is destroyed.
extern TFrmSelDir* FrmSelDir;
