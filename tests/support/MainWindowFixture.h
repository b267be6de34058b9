#pragma once
// A main window over a private settings file and chosen test cameras, with the error box
// replaced by a recorder.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <string>
#include <vector>

#include "HarnessEventLoop.h"
#include "HarnessFiles.h"
#include "HarnessWindow.h"
#include "TestCam.h"
#include "platform/media/VideoRendererSurface.h"
#include "platform/runtime/ErrorBox.h"
#include "uMain.h"
#include "utPublic.h"
#include "widgets/TPanel.h"

class MainWindowFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    ini = dir.filePath("参数设置.INI").toStdString();
    pictures = dir.filePath("pictures");
    ASSERT_TRUE(QDir().mkpath(pictures));
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
  void WriteIni(const std::string& content) { ASSERT_TRUE(harness::WriteFile(ini, content)); }
  std::string ReadIni() const { return harness::ReadFile(ini); }
  bool IniExists() const { return QFile::exists(QString::fromStdString(ini)); }

  TFrmMain& Open() {
    window = harness::OpenWindow();
    return *window;
  }

  // See harness::StartCamera.
  void StartCamera(const TestCameraSpec& camera, QSize size = {}) {
    const std::string failed = harness::StartCamera(*window, camera, size);
    ASSERT_EQ(failed, "");
  }

  // The preview's video, once the renderer has made it.
  platform::VideoRendererSurface* Preview() {
    return window->Panel4->findChild<platform::VideoRendererSurface*>(
        platform::VideoRendererSurface::kObjectName);
  }
  // Waits for three more frames at the preview. A frame reaches it after the grabber, so the
  // last of them passed the grabber after the call, whatever was on its way then.
  bool WaitForPreviewFrames() {
    const auto serial = [&] { return Preview() ? Preview()->Frame().Serial() : 0; };
    uint64_t last = serial();
    int frames = 0;
    return harness::WaitFor([&] {
      frames += serial() != last;
      last = serial();
      return frames >= 3;
    });
  }

  QTemporaryDir dir;
  std::string ini;
  QString pictures;  // an empty folder in `dir`, for the pictures a test writes
  std::vector<std::string> errors;
  std::unique_ptr<TFrmMain> window;
};
