#pragma once
// A main window over a private settings file and chosen test cameras, with the error box
// replaced by a recorder.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "HarnessEventLoop.h"
#include "HarnessWindow.h"
#include "TestCam.h"
#include "platform/runtime/ErrorBox.h"
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
    window = harness::OpenWindow();
    return *window;
  }

  static bool WaitFor(const std::function<bool()>& done, int ms = 10000) {
    return harness::WaitFor(done, ms);
  }
  QSize PictureSize() { return harness::PictureSize(*window); }
  int PictureBits() { return harness::PictureBits(*window); }

  // See harness::StartCamera.
  void StartCamera(const TestCameraSpec& camera, QSize size = {}) {
    const std::string failed = harness::StartCamera(*window, camera, size);
    ASSERT_EQ(failed, "");
  }

  QTemporaryDir dir;
  std::string ini;
  std::vector<std::string> errors;
  std::unique_ptr<TFrmMain> window;
};
