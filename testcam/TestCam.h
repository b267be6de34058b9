#pragma once
// The test camera: a GStreamer element ("stillwicktestcam") and a device provider of class
// "Video/Source" ("stillwicktestcamprovider") whose camera list is set from code. It stands
// in for a real camera on machines that have none, and lets tests choose their devices.

#include <string>
#include <vector>

struct TestCameraSpec {
  std::string name = "Stillwick Test Camera";  // the device's display name
  std::string serial;                          // identity hint; empty: derived from the name
  int width = 640;
  int height = 480;
  int fps = 30;
  std::string format = "YUY2";  // "YUY2", "BGR" or "MJPEG"
  std::string pattern = "smpte";  // a videotestsrc pattern nick
  int failAfterFrames = -1;       // >= 0: stop delivering and post a device error after N frames
};

// Registers the element and the device provider statically (tests, benchmarks). Idempotent.
bool TestCamRegisterStatic();

// Replaces the provider's camera list; monitors see devices appear and disappear.
void TestCamSetCameras(const std::vector<TestCameraSpec>& cameras);
