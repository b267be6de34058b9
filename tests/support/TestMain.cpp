// The main of every test suite: offscreen Qt, a private GStreamer registry, the test camera.
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>

#include "TestCam.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("GST_REGISTRY", STILLWICK_TEST_REGISTRY, 0);
  // Real cameras and desktop sound servers must not leak into the tests.
  setenv("GST_PLUGIN_FEATURE_RANK", "v4l2deviceprovider:NONE,pipewiredeviceprovider:NONE", 0);
  QApplication app(argc, argv);
  gst_init(&argc, &argv);
  TestCamRegisterStatic();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
