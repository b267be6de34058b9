// The main of every test suite: offscreen Qt, a private GStreamer registry, the test camera.
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>

#include "TestCam.h"

// Sanitizer settings travel with the test binaries, so any way of running them gets them.
extern "C" const char* __tsan_default_options() {
  return "suppressions=" STILLWICK_TSAN_SUPPRESSIONS " second_deadlock_stack=1 die_after_fork=0";
}
// Leaks are reported by the GLib/GStreamer type system's one-time allocations, not ours.
extern "C" const char* __asan_default_options() {
  return "detect_leaks=0";
}
extern "C" const char* __ubsan_default_options() {
  return "print_stacktrace=1";
}

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
