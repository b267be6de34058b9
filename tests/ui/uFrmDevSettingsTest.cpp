// The device settings window over the test camera: reached from the device list and the
// preview, its controls change the saved pictures, and what was set comes back at every start.
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

#include "support/FakeV4l2Driver.h"
#include "support/MainWindowFixture.h"
#include "support/ReadBmp.h"
#include "uFrmDevSettings.h"
#include "widgets/TSpinEdit.h"

namespace {

class uFrmDevSettingsTest : public MainWindowFixture {
 protected:
  void TearDown() override {
    TFrmDevSettings::SetControlsOpenerForTesting(nullptr);
    MainWindowFixture::TearDown();
  }

  static TestCameraSpec Knob(const char* modes = "") {
    return {.name = "Knob Cam",
            .serial = "KNOB-1",
            .width = 320,
            .height = 240,
            .modes = modes,
            .pattern = "black"};
  }
  void Start(const TestCameraSpec& camera = Knob(), QSize size = {}) {
    if (!window)
      Open();
    window->edFileDir->setText(pictures);
    StartCamera(camera, size);
  }
  // The menu `open` shows: its entry's text, chosen when it is enabled.
  QString ChooseFromMenu(const std::function<void()>& open) {
    QString seen;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      if (!menu)
        return;
      poll.stop();
      QAction* entry = menu->actions().value(0);
      seen = entry->text();
      menu->setActiveAction(entry);
      QTest::keyClick(menu, entry->isEnabled() ? Qt::Key_Return : Qt::Key_Escape);
    });
    poll.start(10);
    open();
    return seen;
  }
  TFrmDevSettings& Settings() {
    ChooseFromMenu([&] { Q_EMIT window->cbVCap->customContextMenuRequested({5, 5}); });
    return *window->FrmDevSettings;
  }
  QSpinBox* Number(const char* key) {
    return qobject_cast<QSpinBox*>(window->FrmDevSettings->ControlWidget(key));
  }
  QComboBox* List(const char* key) {
    return qobject_cast<QComboBox*>(window->FrmDevSettings->ControlWidget(key));
  }
  void Pick(QComboBox* list, int index) {
    list->setCurrentIndex(index);
    Q_EMIT list->activated(index);
  }
  // The grey of a picture saved now, at its middle.
  int SavedGrey() {
    window->btnGetPic->click();
    const QStringList read = ReadBmp(window->lstFn->item(0)->text(), {"160,120"});
    const QStringList rgb = read.value(1).split(',');
    return (rgb.value(0).toInt() + rgb.value(1).toInt() + rgb.value(2).toInt()) / 3;
  }
  bool SavedGreyBecomes(const std::function<bool(int)>& wanted) {
    return harness::WaitFor([&] { return wanted(SavedGrey()); });
  }
};

TEST_F(uFrmDevSettingsTest, TheDeviceListAndThePreviewOpenTheWindow) {
  Open();
  EXPECT_EQ(ChooseFromMenu([&] {
              Q_EMIT window->cbVCap->customContextMenuRequested({5, 5});
            }),
            "设备设置…");
  EXPECT_EQ(window->FrmDevSettings, nullptr) << "no device is selected";
  const std::pair<const char*, std::function<void()>> ways[] = {
      {"the device list",
       [&] {
         Q_EMIT window->cbVCap->customContextMenuRequested({5, 5});
       }},
      {"the preview",
       [&] {
         Q_EMIT window->VWCap->customContextMenuRequested({5, 5});
       }},
      {"Shift+F10",
       [&] {
         window->activateWindow();
         ASSERT_TRUE(
             harness::WaitFor([&] { return QApplication::activeWindow() == window.get(); }));
         window->cbVCap->setFocus();
         QTest::keyClick(window->cbVCap, Qt::Key_F10, Qt::ShiftModifier);
       }},
  };
  Start();
  for (const auto& [way, open] : ways) {
    if (window->FrmDevSettings)
      window->FrmDevSettings->close();
    EXPECT_EQ(ChooseFromMenu(open), "设备设置…") << way;
    ASSERT_NE(window->FrmDevSettings, nullptr) << way;
    EXPECT_TRUE(window->FrmDevSettings->isVisible()) << way;
  }
  TFrmDevSettings& settings = *window->FrmDevSettings;
  EXPECT_EQ(settings.windowTitle(), "设备设置 - Knob Cam");
  EXPECT_FALSE(settings.isModal());
  EXPECT_EQ(settings.cbMode->itemText(0), "自动(最大画面)");
  EXPECT_EQ(settings.cbMode->currentIndex(), 0);
  ASSERT_NE(Number("brightness"), nullptr);
  ASSERT_NE(List("color_effects"), nullptr);
  EXPECT_FALSE(settings.lblNone->isVisible());
}

TEST_F(uFrmDevSettingsTest, ChangesShowInSavedPicturesAndComeBackAtTheNextStart) {
  Start();
  EXPECT_LT(SavedGrey(), 30);
  Settings();
  Pick(List("color_effects"), 2);  // Negative
  EXPECT_TRUE(SavedGreyBecomes([](int grey) { return grey > 220; }));
  Number("brightness")->setValue(100);
  EXPECT_TRUE(SavedGreyBecomes([](int grey) { return grey > 100 && grey < 190; }));
  const std::string stored = ReadIni();
  EXPECT_NE(stored.find("[Device KNOB-1]\r\ncolor_effects=6\r\nbrightness=100\r\n"),
            std::string::npos)
      << stored;

  // Quit, replug (the camera forgets) and start again without the window.
  window.reset();
  TestCamSetCameras({});
  Start();
  EXPECT_EQ(window->FrmDevSettings, nullptr);
  EXPECT_TRUE(SavedGreyBecomes([](int grey) { return grey > 100 && grey < 190; }));
}

TEST_F(uFrmDevSettingsTest, DefaultsResetTheDeviceAndForgetTheValues) {
  Start();
  Settings();
  Number("brightness")->setValue(100);
  EXPECT_TRUE(SavedGreyBecomes([](int grey) { return grey > 80; }));
  window->FrmDevSettings->btnDefaults->click();
  EXPECT_EQ(Number("brightness")->value(), 0);
  EXPECT_TRUE(SavedGreyBecomes([](int grey) { return grey < 30; }));
  EXPECT_NE(ReadIni().find("[Device KNOB-1]\r\nbrightness=\r\n"), std::string::npos) << ReadIni();
}

// What a start sets from the file (the range itself is the controls' own rule); the file keeps
// what it held, keys the device does not know included, also after a change.
TEST_F(uFrmDevSettingsTest, StoredValuesAreSetInRangeAndTheFileKeepsThem) {
  const std::pair<const char*, int> cases[] = {{"brightness=900", 127}, {"brightness=bright", 0}};
  for (const auto& [line, applied] : cases) {
    const std::string section = std::string("[Device KNOB-1]\r\nzoom_absolute=5\r\n") + line;
    WriteIni(section + "\r\n");
    TestCamSetCameras({});
    Start();
    Settings();
    EXPECT_EQ(Number("brightness")->value(), applied) << line;
    EXPECT_NE(ReadIni().find(section), std::string::npos) << line;
    Number("brightness")->setValue(20);
    EXPECT_NE(ReadIni().find("zoom_absolute=5\r\nbrightness=20\r\n"), std::string::npos) << line;
    window.reset();
  }
}

TEST_F(uFrmDevSettingsTest, TheChosenModeIsWhatTheNextStartCapturesIn) {
  const TestCameraSpec camera = Knob("YUY2 320x240@30, YUY2 640x480@30");
  Start(camera, {640, 480});
  TFrmDevSettings& settings = Settings();
  ASSERT_EQ(settings.cbMode->count(), 3);
  EXPECT_EQ(settings.cbMode->itemText(1), "YUY2 320x240, 30 fps");
  Pick(settings.cbMode, 1);
  EXPECT_EQ(settings.lblStatus->text(), "下次启动采集时生效");
  EXPECT_EQ(harness::PictureSize(*window), QSize(640, 480));
  Start(camera, {320, 240});
  EXPECT_NE(ReadIni().find("Mode=YUY2 320x240@30/1"), std::string::npos);
}

TEST_F(uFrmDevSettingsTest, AFailingDeviceSaysWhyAndKeepsItsValue) {
  FakeV4l2Driver driver;
  driver.controls = {FakeV4l2Driver::Control(V4L2_CID_BRIGHTNESS, V4L2_CTRL_TYPE_INTEGER,
                                             "Brightness", 0, 255, 128)};
  TFrmDevSettings::SetControlsOpenerForTesting([&](const platform::Moniker&, std::string&) {
    return platform::V4l2ControlsOver(-1, driver.Bind());
  });
  // A stored value the device refuses at the start: said when the window opens, and at once
  // at a start while it is open; the device keeps its value, and capture runs on.
  WriteIni("[Device KNOB-1]\r\nbrightness=200\r\n");
  driver.setError = EBUSY;
  Start();
  TFrmDevSettings& settings = Settings();
  const QString atStart = "启动采集时未能设置：Brightness: Device or resource busy";
  EXPECT_EQ(settings.lblStatus->text(), atStart);
  Number("brightness")->setValue(150);
  EXPECT_EQ(settings.lblStatus->text(), "Brightness: Device or resource busy");
  EXPECT_EQ(Number("brightness")->value(), 128);
  EXPECT_NE(ReadIni().find("brightness=200\r\n"), std::string::npos);
  window->OpenPlay->click();
  EXPECT_EQ(settings.lblStatus->text(), atStart);
  EXPECT_TRUE(harness::WaitFor([&] { return window->FGVCap.State() == GraphState::Playing; }));
  driver.setError = ENODEV;
  Number("brightness")->setValue(20);
  EXPECT_EQ(settings.lblStatus->text(), "Brightness: No such device");
  EXPECT_FALSE(Number("brightness")->isEnabled());

  driver.controls.clear();
  Q_EMIT window->cbVCap->activated(0);
  EXPECT_TRUE(settings.lblNone->isVisible());
  TestCamSetCameras({});
  window->btnGetVCap->click();
  EXPECT_EQ(settings.lblStatus->text(), "设备已不在。");
}

}  // namespace
