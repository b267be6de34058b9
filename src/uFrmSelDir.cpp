#include "uFrmSelDir.h"

#include <QKeyEvent>
#include <QShowEvent>

#include "platform/runtime/ErrorBox.h"
#include "widgets/FixedSizeKeeper.h"

TFrmSelDir* FrmSelDir = nullptr;

namespace {
QFont PixelFont(const QString& family, int pixelHeight) {
  QFont font(family);
  font.setPixelSize(pixelHeight);
  return font;
}
}  // namespace

TFrmSelDir::TFrmSelDir(QWidget* owner, TShellTreeView::RootLister roots)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                         Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowCloseButtonHint),
      pl(this),
      Label14(tr("选择目录："), &pl),
      edFileDir(&pl),
      btnUnLoadReady(&pl),
      btnSure(&pl),
      tree_(&pl, std::move(roots)) {
  setWindowTitle(tr("选择目录"));
  setFont(PixelFont(QStringLiteral("MS Sans Serif"), 11));

  Label14.move(18, 18);
  Label14.adjustSize();

  edFileDir.setGeometry(80, 16, 353, 22);
  edFileDir.setFont(PixelFont(QStringLiteral("Arial"), 12));
  QPalette navy = edFileDir.palette();
  navy.setColor(QPalette::Text, QColor(0x00, 0x00, 0x80));
  edFileDir.setPalette(navy);
  // No frame, only a soft lowered edge.
  edFileDir.setFrame(false);
  edFileDir.setStyleSheet(QStringLiteral(
      "QLineEdit { border: 1px solid; border-color: palette(mid) palette(light) palette(light) "
      "palette(mid); }"));

  btnUnLoadReady.setText(tr("取消"));
  btnUnLoadReady.setGeometry(437, 14, 49, 24);
  btnUnLoadReady.setFocusPolicy(Qt::NoFocus);
  btnSure.setText(tr("确认"));
  btnSure.setGeometry(488, 14, 49, 24);
  btnSure.setFocusPolicy(Qt::NoFocus);

  tree_.setGeometry(18, 41, 514, 192);
  tree_.setFont(PixelFont(QStringLiteral("宋体"), 12));

  setTabOrder(&edFileDir, &tree_);

  GuardedConnect(&btnSure, &QToolButton::clicked, this, [this](bool) { btnSureClick(); });
  GuardedConnect(&btnUnLoadReady, &QToolButton::clicked, this,
                 [this](bool) { btnUnLoadReadyClick(); });
  GuardedConnect(&tree_, &TShellTreeView::Change, this, [this] { ShellTreeView1Change(); });
  Guarded([this] { FormCreate(); });
}

TFrmSelDir::~TFrmSelDir() {
  if (FrmSelDir == this)
    FrmSelDir = nullptr;
}

void TFrmSelDir::FormCreate() {
  pl.setGeometry(0, 0, 545, 257);
  setFixedSize(pl.size());
  new FixedSizeKeeper(this);
  // The tree selected the computer node while it was built, before anyone listened.
  ShellTreeView1Change();
}

int TFrmSelDir::ShowModal() {
  if (const QWidget* owner = parentWidget()) {
    move(owner->geometry().center() - rect().center());
  }
  exec();
  return tag_;
}

void TFrmSelDir::showEvent(QShowEvent* event) {
  if (!event->spontaneous())
    Guarded([this] { FormShow(); });
  QDialog::showEvent(event);
}

void TFrmSelDir::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
      event->accept();
      return;
    default:
      QDialog::keyPressEvent(event);
  }
}

void TFrmSelDir::FormShow() {
  tag_ = 0;
}

void TFrmSelDir::btnSureClick() {
  tag_ = 1;
  close();
}

void TFrmSelDir::btnUnLoadReadyClick() {
  close();
}

void TFrmSelDir::ShellTreeView1Change() {
  edFileDir.setText(tree_.SelectedPathText());
}
