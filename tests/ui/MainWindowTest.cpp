#include <QCheckBox>
#include <QComboBox>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QWindow>

#include "app/StorageFolder.h"
#include "support/MainWindowFixture.h"
#include "uFrmSelDir.h"
#include "widgets/TImage.h"
#include "widgets/TPanel.h"
#include "widgets/TSpinEdit.h"

namespace {

using harness::WaitFor;

using MainWindowTest = MainWindowFixture;

// Every control where the layout puts it, measured on the shown widgets, in the font it renders
// with: the window's Song face, 12 pixels high.
TEST_F(MainWindowTest, LaysOutEveryControlWhereTheWindowPutsIt) {
  TFrmMain& w = Open();
  EXPECT_EQ(w.windowTitle(), "Stillwick");
  EXPECT_EQ(w.size(), QSize(791, 422));
  EXPECT_EQ(w.minimumSize(), w.maximumSize());

  struct Expected {
    QWidget* widget;
    QRect geometry;  // an empty size: the control fits its text, only the position counts
    QString caption;
  };
  const Expected controls[] = {
      {w.Panel2, {0, 0, 280, 422}, {}},
      {w.Panel1, {280, 0, 511, 422}, {}},
      {w.Image, {2, 2, 507, 418}, {}},
      {w.OpenPlay, {8, 6, 66, 26}, "启动采集"},
      {w.btnPause, {75, 6, 37, 26}, "暂停"},
      {w.CallBack, {206, 10, 71, 17}, "同步显示"},
      {w.btnAddDir, {8, 33, 66, 26}, "存储目录"},
      {w.btnGetPic, {75, 33, 90, 26}, "捕获单张图片"},
      {w.btnGetMorePic, {166, 33, 108, 26}, "连续捕获多张图片"},
      {w.Label1, {8, 63, 0, 0}, "目录"},
      {w.edFileDir, {36, 61, 239, 19}, {}},
      {w.Label2, {8, 85, 258, 12}, "连续抓拍时，每秒       张，共拍        秒。"},
      {w.spPicNum, {105, 82, 39, 21}, {}},
      {w.spPicTime, {199, 82, 40, 21}, {}},
      {w.Label3, {8, 109, 0, 0}, "文件前缀"},
      {w.edPreText, {58, 107, 59, 18}, {}},
      {w.Label4, {121, 109, 0, 0}, "起始编号"},
      {w.spStartNum, {168, 106, 40, 21}, {}},
      {w.Label5, {217, 109, 0, 0}, "位数"},
      {w.spNumLen, {243, 105, 34, 21}, {}},
      {w.Label160, {6, 138, 0, 0}, "视频输入"},
      {w.cbVCap, {57, 134, 185, 20}, {}},
      {w.btnGetVCap, {244, 133, 33, 22}, "刷新"},
      {w.lstFn, {2, 164, 277, 65}, {}},
      {w.Panel4, {1, 232, 278, 189}, {}},
      {w.VWCap, {1, 1, 276, 187}, {}},
  };
  const QString song = QFontInfo(QFont("宋体")).family();
  EXPECT_NE(song, QFontInfo(QFont("DejaVu Sans")).family());
  for (const Expected& c : controls) {
    const QString name = c.widget->metaObject()->className() + (" " + c.caption);
    if (c.geometry.size().isEmpty()) {
      EXPECT_EQ(c.widget->pos(), c.geometry.topLeft()) << name.toStdString();
    } else {
      EXPECT_EQ(c.widget->geometry(), c.geometry) << name.toStdString();
    }
    const QFontInfo font(c.widget->font());
    EXPECT_EQ(font.family(), song) << name.toStdString();
    EXPECT_EQ(font.pixelSize(), 12) << name.toStdString();
    if (auto* button = qobject_cast<QAbstractButton*>(c.widget)) {
      EXPECT_EQ(button->text(), c.caption);
    } else if (auto* label = qobject_cast<QLabel*>(c.widget)) {
      EXPECT_EQ(label->text(), c.caption);
    }
  }
  // Items are drawn in the view's font, 12 pixels to a row: five names fill the list.
  w.lstFn->addItem("voZU-01.bmp");
  EXPECT_EQ(w.lstFn->visualItemRect(w.lstFn->item(0)).height(), 12);
  EXPECT_EQ(w.lstFn->viewport()->height() / 12, 5);

  EXPECT_TRUE(w.OpenPlay->isEnabled());
  EXPECT_FALSE(w.btnGetPic->isEnabled());
  EXPECT_FALSE(w.btnGetMorePic->isEnabled());
  EXPECT_TRUE(w.CallBack->isChecked());
  EXPECT_EQ(w.cbVCap->currentIndex(), -1);
  EXPECT_EQ(w.btnGetVCap->focusPolicy(), Qt::NoFocus);
  EXPECT_TRUE(w.lstFn->hasFocus());
  EXPECT_EQ(w.VWCap->VMROptions().Mode(), TVMRVideoMode::vmrWindowed);
  EXPECT_EQ(w.VWCap->VMROptions().Streams(), 1u);
  EXPECT_EQ(w.VWCap->VMROptions().Preferences(), TVMRPreferences());
  EXPECT_FALSE(w.windowIcon().pixmap(32).isNull());
}

// The number fields have the two-pixel sunken frame of a number field; the text fields and the
// list a one-pixel soft bevel with the field's own colour right inside it.
TEST_F(MainWindowTest, NumberFieldsAreSunkenTextFieldsAndListSoftlyBevelled) {
  TFrmMain& w = Open();
  for (QWidget* field : std::initializer_list<QWidget*>{
           w.spPicNum, w.spPicTime, w.spStartNum, w.spNumLen, w.edFileDir, w.edPreText, w.lstFn}) {
    const bool number = qobject_cast<TSpinEdit*>(field) != nullptr;
    const QImage image = field->grab().toImage();
    const QRgb base = field->palette().color(QPalette::Base).rgb();
    const QRgb dark = field->palette().color(QPalette::Dark).rgb();
    // Sunken frames and soft bevels are both darker at the top left than inside.
    EXPECT_LT(qGray(image.pixel(0, 5)), qGray(base)) << number;
    EXPECT_EQ(image.pixel(1, 5) != base, number) << field->metaObject()->className();
    if (!number) {
      EXPECT_EQ(image.pixel(0, 5), dark);
    }
  }
}

// Tab and Shift+Tab run through the fifteen stops in the layout's order and round again.
TEST_F(MainWindowTest, TabCyclesThroughEveryStopInOrderBothWays) {
  TFrmMain& w = Open();
  QApplication::setActiveWindow(&w);
  const std::vector<QWidget*> stops = {w.lstFn,
                                       w.OpenPlay,
                                       w.btnPause,
                                       w.CallBack,
                                       w.btnAddDir,
                                       w.btnGetPic,
                                       w.btnGetMorePic,
                                       w.edFileDir,
                                       w.spPicNum->Editor(),
                                       w.spPicTime->Editor(),
                                       w.edPreText,
                                       w.spStartNum->Editor(),
                                       w.spNumLen->Editor(),
                                       w.VWCap,
                                       w.cbVCap};
  // Disabled buttons are no stops, so enable the two capture buttons for the round.
  w.btnGetPic->setEnabled(true);
  w.btnGetMorePic->setEnabled(true);
  for (const bool forward : {true, false}) {
    w.lstFn->setFocus(Qt::OtherFocusReason);
    const int n = static_cast<int>(stops.size());
    for (int step = 1; step <= 2 * n; ++step) {
      QTest::keyClick(QApplication::focusWidget(), forward ? Qt::Key_Tab : Qt::Key_Backtab,
                      forward ? Qt::NoModifier : Qt::ShiftModifier);
      const int index = forward ? step % n : (n - step % n) % n;
      ASSERT_EQ(QApplication::focusWidget(), stops[index])
          << (forward ? "Tab " : "Shift+Tab ") << step << ": "
          << (QApplication::focusWidget() ? QApplication::focusWidget()->metaObject()->className()
                                          : "none");
    }
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
      const uint8_t b = row[std::ptrdiff_t{4} * x], g = row[std::ptrdiff_t{4} * x + 1],
                    r = row[std::ptrdiff_t{4} * x + 2];
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

// On a dense screen the start-up caption is drawn at the screen's resolution, not scaled up,
// and the black is opaque (the picture's unused fourth bytes are 0).
TEST_F(MainWindowTest, StartUpPictureShowsOpaqueAndSharpAtScaleTwo) {
  TFrmMain& w = Open();
  QImage shown(2 * 507, 2 * 418, QImage::Format_ARGB32_Premultiplied);
  shown.setDevicePixelRatio(2);
  shown.fill(Qt::transparent);
  w.Image->render(&shown);
  int mixedBlocks = 0;  // 2 x 2 device-pixel blocks that a scaled-up picture could not have
  for (int y = 0; y < shown.height(); y += 2) {
    for (int x = 0; x < shown.width(); x += 2) {
      const QRgb p = shown.pixel(x, y);
      ASSERT_EQ(qAlpha(p), 255) << x << "," << y;
      if (shown.pixel(x + 1, y) != p || shown.pixel(x, y + 1) != p ||
          shown.pixel(x + 1, y + 1) != p)
        ++mixedBlocks;
    }
  }
  EXPECT_GT(mixedBlocks, 50);
}

// A maximize or full-screen request, as a window decoration makes it, leaves the window at its
// fixed size and state.
TEST_F(MainWindowTest, MaximizeOrFullScreenRequestLeavesTheWindowAtItsSize) {
  TFrmMain& w = Open();
  for (const Qt::WindowState state : {Qt::WindowMaximized, Qt::WindowFullScreen}) {
    QWindow* handle = w.windowHandle();
    ASSERT_NE(handle, nullptr);
    QSignalSpy states(handle, &QWindow::windowStateChanged);
    handle->setWindowStates(state);
    EXPECT_TRUE(WaitFor([&] {
      return states.count() >= 2 && w.windowState() == Qt::WindowNoState &&
             handle->size() == QSize(791, 422);
    })) << state;
    ASSERT_FALSE(states.isEmpty());
    EXPECT_EQ(states.first().first().value<Qt::WindowState>(), state);
    EXPECT_EQ(w.size(), QSize(791, 422));
  }
}

TEST_F(MainWindowTest, NoSettingsFileLeavesDefaultsAndWritesNothing) {
  TFrmMain& w = Open();
  EXPECT_EQ(w.edFileDir->text(), DefaultStorageFolder());
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
  const TestCameraSpec deskCam{.name = "Desk Cam"};
  TestCamSetCameras({{.name = "Other"}, deskCam, deskCam});  // the same name twice
  WriteIni("[VideoCapture]\r\nVideoCaptureName=desk cam\r\n");
  TFrmMain& w = Open();
  ASSERT_EQ(w.cbVCap->count(), 3);
  EXPECT_EQ(w.cbVCap->currentIndex(), 1);

  // The user's pick is stored; a refresh rebuilds the selection from the setting.
  w.cbVCap->setCurrentIndex(0);
  Q_EMIT w.cbVCap->activated(0);
  EXPECT_NE(ReadIni().find("VideoCaptureName=Other"), std::string::npos);
  TestCamSetCameras({deskCam});
  QTest::mouseClick(w.btnGetVCap, Qt::LeftButton);
  EXPECT_EQ(w.cbVCap->count(), 1);
  EXPECT_EQ(w.cbVCap->currentIndex(), -1);
  EXPECT_EQ(w.cbVCap->placeholderText(), "");  // a device is there, just not the stored one
}

TEST_F(MainWindowTest, LongDeviceNameIsListedAndStoredCutOnACharacterBoundary) {
  TestCameraSpec camera{.name = ""};
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
  // No device at all: the empty list says so, and stays empty.
  EXPECT_EQ(w.cbVCap->placeholderText(), "未找到视频设备");
  EXPECT_EQ(w.cbVCap->count(), 0);

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
