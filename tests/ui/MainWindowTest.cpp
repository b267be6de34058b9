#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "TImage.h"
#include "TPanel.h"
#include "TSpinEdit.h"
#include "support/MainWindowFixture.h"
#include "uFrmSelDir.h"

namespace {

using MainWindowTest = MainWindowFixture;

TEST_F(MainWindowTest, LaysOutEveryControlWhereTheWindowPutsIt) {
  TFrmMain& w = Open();
  EXPECT_EQ(w.windowTitle(), "Stillwick");
  EXPECT_EQ(w.size(), QSize(791, 422));
  EXPECT_EQ(w.minimumSize(), w.maximumSize());
  EXPECT_EQ(w.Panel2->geometry(), QRect(0, 0, 280, 422));
  EXPECT_EQ(w.Panel1->geometry(), QRect(280, 0, 511, 422));
  EXPECT_EQ(w.Image->geometry(), QRect(2, 2, 507, 418));

  struct Expected {
    QWidget* widget;
    QRect geometry;
    QString caption;
  };
  const Expected controls[] = {
      {w.OpenPlay, {8, 6, 66, 26}, "启动采集"},
      {w.btnPause, {75, 6, 37, 26}, "暂停"},
      {w.CallBack, {206, 10, 71, 17}, "同步显示"},
      {w.btnAddDir, {8, 33, 66, 26}, "存储目录"},
      {w.btnGetPic, {75, 33, 90, 26}, "捕获单张图片"},
      {w.btnGetMorePic, {166, 33, 108, 26}, "连续捕获多张图片"},
      {w.edFileDir, {36, 61, 239, 19}, {}},
      {w.spPicNum, {105, 82, 39, 21}, {}},
      {w.spPicTime, {199, 82, 40, 21}, {}},
      {w.edPreText, {58, 107, 59, 18}, {}},
      {w.spStartNum, {168, 106, 40, 21}, {}},
      {w.spNumLen, {243, 105, 34, 21}, {}},
      {w.cbVCap, {57, 134, 185, 20}, {}},
      {w.btnGetVCap, {244, 133, 33, 22}, "刷新"},
      {w.lstFn, {2, 164, 277, 65}, {}},
      {w.Panel4, {1, 232, 278, 189}, {}},
      {w.VWCap, {1, 1, 276, 187}, {}},
  };
  for (const Expected& c : controls) {
    EXPECT_EQ(c.widget->geometry(), c.geometry) << c.widget->metaObject()->className();
    if (c.caption.isEmpty())
      continue;
    if (auto* button = qobject_cast<QAbstractButton*>(c.widget)) {
      EXPECT_EQ(button->text(), c.caption);
    }
  }
  EXPECT_EQ(w.Label2->text(), "连续抓拍时，每秒       张，共拍        秒。");
  EXPECT_EQ(w.Label1->pos(), QPoint(8, 63));
  EXPECT_EQ(w.Label160->pos(), QPoint(6, 138));

  EXPECT_TRUE(w.OpenPlay->isEnabled());
  EXPECT_FALSE(w.btnGetPic->isEnabled());
  EXPECT_FALSE(w.btnGetMorePic->isEnabled());
  EXPECT_TRUE(w.CallBack->isChecked());
  EXPECT_EQ(w.cbVCap->currentIndex(), -1);
  EXPECT_EQ(w.btnGetVCap->focusPolicy(), Qt::NoFocus);
  EXPECT_TRUE(w.lstFn->hasFocus());

  // Tab order from the list through the buttons and fields.
  QWidget* expectedOrder[] = {w.OpenPlay, w.btnPause, w.CallBack, w.btnAddDir, w.edFileDir};
  QWidget* at = w.lstFn;
  for (QWidget* next : expectedOrder) {
    do {
      at = at->nextInFocusChain();
    } while (!(at->focusPolicy() & Qt::TabFocus) || !at->isEnabled());
    EXPECT_EQ(at, next) << next->metaObject()->className();
  }
}

TEST_F(MainWindowTest, StartUpPictureIsTheDisplaySizeBlackWithRedCaption) {
  TFrmMain& w = Open();
  TBitmap::Ref picture = w.Picture.Snapshot();
  ASSERT_TRUE(picture);
  EXPECT_EQ(picture->Width(), 507);
  EXPECT_EQ(picture->Height(), 418);
  EXPECT_EQ(picture->BitCount(), 32);
  int red = 0;
  int other = 0;
  for (int y = 0; y < picture->Height(); ++y) {
    const uint8_t* row = picture->ScanLine(y);
    for (int x = 0; x < picture->Width(); ++x) {
      const uint8_t b = row[4 * x], g = row[4 * x + 1], r = row[4 * x + 2];
      if (r == 0 && g == 0 && b == 0)
        continue;
      const bool textArea = x >= 10 && y >= 10 && y < 28 + 16;
      if (textArea && g == 0 && b == 0 && r > 0) {
        ++red;
      } else {
        ++other;
      }
    }
  }
  EXPECT_GT(red, 100);  // two lines of red text
  EXPECT_EQ(other, 0);
}

TEST_F(MainWindowTest, NoSettingsFileLeavesDefaultsAndWritesNothing) {
  TFrmMain& w = Open();
  EXPECT_EQ(w.edFileDir->text(), QDir::homePath() + "/");
  EXPECT_EQ(w.edPreText->text(), "voZU-");
  EXPECT_EQ(w.spPicNum->Value(), 1);
  EXPECT_EQ(w.spPicTime->Value(), 5);
  EXPECT_EQ(w.spNumLen->Value(), 2);
  EXPECT_EQ(w.spStartNum->Value(), 1);
  EXPECT_FALSE(IniExists());
  EXPECT_TRUE(errors.empty());

  w.edPreText->setFocus();
  QTest::keyClick(w.edPreText, Qt::Key_End);
  QTest::keyClicks(w.edPreText, "x");
  EXPECT_EQ(ReadIni(), "[START]\r\nedPreText=voZU-x\r\n");
}

TEST_F(MainWindowTest, EveryEditOfANumberFieldStoresItsValue) {
  TFrmMain& w = Open();
  QLineEdit* editor = w.spPicNum->Editor();
  editor->setFocus();
  editor->selectAll();
  QTest::keyClick(editor, Qt::Key_Backspace);
  EXPECT_EQ(ReadIni(), "[START]\r\nspPicNum=1\r\n");  // empty reads as the minimum
  QTest::keyClicks(editor, "4");
  EXPECT_EQ(ReadIni(), "[START]\r\nspPicNum=4\r\n");
}

TEST_F(MainWindowTest, StoredSettingsAreRestoredAndOutOfRangeNumbersStoredBackClamped) {
  WriteIni(
      "[start]\r\nEDFILEDIR=\r\nedPreText=cam\r\nspPicNum=$03\r\nspPicTime= 7\r\n"
      "spNumLen=9\r\nspStartNum=0\r\n");
  TFrmMain& w = Open();
  EXPECT_TRUE(errors.empty());
  EXPECT_EQ(w.edFileDir->text(), "");  // empty stored folder, not the default
  EXPECT_EQ(w.edPreText->text(), "cam");
  EXPECT_EQ(w.spPicNum->Value(), 3);
  EXPECT_EQ(w.spPicTime->Value(), 7);
  EXPECT_EQ(w.spNumLen->Value(), 6);
  EXPECT_EQ(w.spStartNum->Value(), 1);
  const std::string stored = ReadIni();
  EXPECT_NE(stored.find("spNumLen=6\r\n"), std::string::npos) << stored;
  // The field already showed 1, so nothing was written over the stored 0.
  EXPECT_NE(stored.find("spStartNum=0\r\n"), std::string::npos) << stored;
  // Rewritten as decimal because the text changed from the default.
  EXPECT_NE(stored.find("spPicNum=3\r\n"), std::string::npos) << stored;
}

TEST_F(MainWindowTest, NumberThatDoesNotConvertEndsStartUpWithOneError) {
  TestCamSetCameras({TestCameraSpec{}});
  WriteIni("[START]\r\nspPicNum=abc\r\nspPicTime=9\r\n");
  TFrmMain& w = Open();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], "'abc' is not a valid integer value.");
  EXPECT_EQ(w.spPicTime->Value(), 5);
  EXPECT_EQ(w.spNumLen->Value(), 2);
  EXPECT_EQ(w.cbVCap->count(), 0);  // the device list waits for a refresh
  QTest::mouseClick(w.btnGetVCap, Qt::LeftButton);
  EXPECT_EQ(w.cbVCap->count(), 1);
}

TEST_F(MainWindowTest, FailedSettingsWriteShowsTheErrorAndKeepsTheText) {
  TFrmMain& w = Open();
  const std::string unwritable = dir.filePath("folder-at-name").toStdString();
  QDir().mkpath(QString::fromStdString(unwritable));
  SetIniFileNameForTesting(unwritable);
  w.edPreText->setText("new");
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], "Unable to write to " + unwritable + ".");
  EXPECT_EQ(w.edPreText->text(), "new");
}

TEST_F(MainWindowTest, DeviceListReselectsTheStoredNameIgnoringCase) {
  TestCameraSpec a;
  a.name = "Desk Cam";
  TestCameraSpec b = a;  // same name twice
  TestCameraSpec c;
  c.name = "Other";
  TestCamSetCameras({c, a, b});
  WriteIni("[VideoCapture]\r\nVideoCaptureName=desk cam\r\n");
  TFrmMain& w = Open();
  ASSERT_EQ(w.cbVCap->count(), 3);
  EXPECT_EQ(w.cbVCap->currentIndex(), 1);

  // The user's pick is stored; a refresh rebuilds the selection from the setting.
  w.cbVCap->setCurrentIndex(0);
  Q_EMIT w.cbVCap->activated(0);
  EXPECT_NE(ReadIni().find("VideoCaptureName=Other"), std::string::npos);
  TestCamSetCameras({a});
  QTest::mouseClick(w.btnGetVCap, Qt::LeftButton);
  EXPECT_EQ(w.cbVCap->count(), 1);
  EXPECT_EQ(w.cbVCap->currentIndex(), -1);
}

TEST_F(MainWindowTest, LongDeviceNameIsListedAndStoredCutOnACharacterBoundary) {
  TestCameraSpec camera;
  camera.name.clear();
  for (int i = 0; i < 100; ++i)
    camera.name += "摄";  // 3 bytes each: 300 bytes
  TestCamSetCameras({camera});
  TFrmMain& w = Open();
  ASSERT_EQ(w.cbVCap->count(), 1);
  const std::string listed = w.cbVCap->itemText(0).toStdString();
  EXPECT_EQ(listed, camera.name.substr(0, 255));  // 85 whole characters
  w.cbVCap->setCurrentIndex(0);
  Q_EMIT w.cbVCap->activated(0);
  EXPECT_NE(ReadIni().find("VideoCaptureName=" + listed + "\r\n"), std::string::npos);
  // The stored cut name selects the device again after a refresh.
  QTest::mouseClick(w.btnGetVCap, Qt::LeftButton);
  EXPECT_EQ(w.cbVCap->currentIndex(), 0);
}

TEST_F(MainWindowTest, CommandsWithoutCaptureOnlyClearTheListAndFocusIt) {
  TFrmMain& w = Open();  // no camera: nothing selected
  w.lstFn->addItem("old");
  w.edPreText->setFocus();
  QTest::mouseClick(w.OpenPlay, Qt::LeftButton);
  EXPECT_EQ(w.lstFn->count(), 0);
  EXPECT_TRUE(w.lstFn->hasFocus());
  EXPECT_FALSE(w.btnGetPic->isEnabled());
  EXPECT_EQ(w.FGVCap.State(), GraphState::Uninitialized);

  w.edPreText->setFocus();
  QTest::mouseClick(w.btnPause, Qt::LeftButton);
  EXPECT_EQ(w.btnPause->text(), "暂停");
  EXPECT_TRUE(w.lstFn->hasFocus());
}

TEST_F(MainWindowTest, ConfirmedFolderBecomesTheStorageFolderAndIsStoredOnce) {
  TFrmMain& w = Open();
  TFrmSelDir chooser(&w, [this] { return QStringList{dir.path()}; });
  FrmSelDir = &chooser;
  // Presses a dialog button once the modal loop runs.
  auto pressWhileOpen = [&](QToolButton* button, const QString& typed = {}) {
    QTimer::singleShot(0, &chooser, [&, button, typed] {
      if (!typed.isNull())
        chooser.EdFileDir()->setText(typed);
      button->click();
    });
    QTest::mouseClick(w.btnAddDir, Qt::LeftButton);
  };

  // First opening: the computer node is selected, and its name is handed back as it is.
  pressWhileOpen(chooser.BtnSure());
  EXPECT_EQ(w.edFileDir->text(), "计算机");
  EXPECT_EQ(w.focusWidget(), w.lstFn);
  EXPECT_EQ(ReadIni(), "[START]\r\nedFileDir=计算机\r\n");

  // Cancel changes nothing, whatever the field held.
  pressWhileOpen(chooser.BtnUnLoadReady(), dir.path());
  EXPECT_EQ(w.edFileDir->text(), "计算机");

  // Confirming the text the main field already holds writes nothing.
  QFile::remove(QString::fromStdString(ini));
  pressWhileOpen(chooser.BtnSure(), "计算机");
  EXPECT_FALSE(IniExists());
  pressWhileOpen(chooser.BtnSure(), dir.path());
  EXPECT_EQ(w.edFileDir->text(), dir.path());
  EXPECT_EQ(ReadIni(), "[START]\r\nedFileDir=" + dir.path().toStdString() + "\r\n");
  FrmSelDir = nullptr;
}

}  // namespace
