#pragma once
// A main window over a private settings file and chosen test cameras, with the error box
// replaced by a recorder.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "TestCam.h"
#include "platform/HandlerGuard.h"
#include "uMain.h"
#include "utPublic.h"

class MainWindowFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    ini = dir.filePath("参数设置.INI").toStdString();
    SetIniFileNameForTesting(ini);
    SetErrorPresenter([this](const std::string& text) { errors.push_back(text); });
    TestCamSetCameras({});
  }
  void TearDown() override {
    window.reset();
    SetErrorPresenter(nullptr);
    TestCamSetCameras({});
  }

  // Writes the settings file as given, before the window is made.
  void WriteIni(const std::string& content) {
    QFile file(QString::fromStdString(ini));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content.data(), static_cast<qint64>(content.size()));
  }
  std::string ReadIni() const {
    QFile file(QString::fromStdString(ini));
    if (!file.open(QIODevice::ReadOnly))
      return {};
    return file.readAll().toStdString();
  }
  bool IniExists() const { return QFile::exists(QString::fromStdString(ini)); }

  TFrmMain& Open() {
    window = std::make_unique<TFrmMain>();
    window->show();
    window->activateWindow();
    QApplication::processEvents();
    return *window;
  }

  // Runs the event loop until `done` holds or `ms` pass; returns whether it held.
  static bool WaitFor(const std::function<bool()>& done, int ms = 10000) {
    QDeadlineTimer deadline(ms);
    while (!done()) {
      if (deadline.hasExpired())
        return false;
      QApplication::processEvents(QEventLoop::AllEvents, 10);
      QTest::qSleep(2);
    }
    return true;
  }

  // Size of the display picture (0 x 0 when empty) and its depth.
  QSize PictureSize() {
    TBitmap::Ref picture = window->Picture.Snapshot();
    return picture ? QSize(picture->Width(), picture->Height()) : QSize();
  }
  int PictureBits() {
    TBitmap::Ref picture = window->Picture.Snapshot();
    return picture ? picture->BitCount() : 0;
  }

  // Lists `camera` alone, picks it and presses "启动采集"; waits for the first frame of `size`
  // (default: the camera's one mode) unless "同步显示" is unticked.
  void StartCamera(const TestCameraSpec& camera, QSize size = {}) {
    if (!size.isValid())
      size = QSize(camera.width, camera.height);
    TestCamSetCameras({camera});
    QTest::mouseClick(window->btnGetVCap, Qt::LeftButton);
    ASSERT_EQ(window->cbVCap->count(), 1);
    window->cbVCap->setCurrentIndex(0);
    QTest::mouseClick(window->OpenPlay, Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return window->FGVCap.State() == GraphState::Playing; }));
    if (window->CallBack->isChecked()) {
      ASSERT_TRUE(WaitFor([&] { return PictureSize() == size && PictureBits() == 24; }));
    }
  }

  QTemporaryDir dir;
  std::string ini;
  std::vector<std::string> errors;
  std::unique_ptr<TFrmMain> window;
};
