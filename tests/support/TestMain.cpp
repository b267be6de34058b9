// The main of every test suite: offscreen Qt, a private GStreamer registry, the test camera.
#include <gtest/gtest.h>

#include <QApplication>

#include "HarnessEnvironment.h"

// Sanitizer settings travel with the test binaries, so any way of running them gets them.
extern "C" const char* __tsan_default_options() {
  return "suppressions=" STILLWICK_TSAN_SUPPRESSIONS " second_deadlock_stack=1 die_after_fork=0";
}
extern "C" const char* __lsan_default_options() {
  return "suppressions=" STILLWICK_LSAN_SUPPRESSIONS " print_suppressions=0";
}
extern "C" const char* __ubsan_default_options() {
  return "print_stacktrace=1";
}

int main(int argc, char** argv) {
  harness::PrepareEnvironment(STILLWICK_TEST_REGISTRY);
  QApplication app(argc, argv);
  harness::StartMedia(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
