#pragma once
// The test camera: a GStreamer element ("stillwicktestcam") and a device provider of class
// "Video/Source" ("stillwickcameras") whose camera list is set from code. It stands in for a
// real camera on machines that have none, and lets tests choose their devices.
//
// Conventions the pipeline layer relies on:
// - A camera that loses its device (failAfterFrames) stops delivering buffers and posts one
//   ERROR message whose source is the camera element itself: domain GST_RESOURCE_ERROR, code
//   GST_RESOURCE_ERROR_READ, text "Device has been unplugged", and in the details structure
//   (gst_message_parse_error_details) the boolean field "device-lost" = TRUE.
// - Each device's properties structure (gst_device_get_properties) carries the identity hints
//   "device.api" = "stillwicktestcam", "device.serial" (when the camera has one),
//   "device.bus_path" (when set) and "device.path" = "/dev/stillwicktestcam<N>". N is kept while
//   a camera stays in the list; a new camera takes the lowest free N, as device nodes do.
// - gst_device_create_element gives a "stillwicktestcam" whose properties "device-name",
//   "serial", "width", "height", "framerate", "format", "pattern" and "fail-after-frames" are the
//   camera's settings.
// - With no list set from code, the cameras come from the environment variable STILLWICK_TESTCAM
//   when it is set (structures separated by ";", e.g.
//   `camera, name="Cam A", format=MJPEG, width=1280, height=720, fps=30, fail-after-frames=100`;
//   fields as in TestCameraSpec, "serial", "bus-path" and "pattern" too; empty: no cameras),
//   otherwise two: "Stillwick Test Camera" (YUY2 640x480 at 30) and
//   "Stillwick Test Camera (MJPEG)" (MJPEG 1280x720 at 30, a moving ball).

#include <string>
#include <vector>

struct TestCameraSpec {
  std::string name = "Stillwick Test Camera";  // the device's display name
  std::string serial;  // identity hint; empty: derived from the name and its place among namesakes
  bool hasSerial = true;  // false: the device offers no serial, as many cheap cameras do
  std::string busPath;    // identity hint "device.bus_path"; empty: none
  int width = 640;
  int height = 480;
  int fps = 30;
  std::string format = "YUY2";    // "YUY2", "BGR" or "MJPEG"
  std::string pattern = "smpte";  // a videotestsrc pattern nick
  int failAfterFrames = -1;       // >= 0: stop delivering and post a device error after N frames

  bool operator==(const TestCameraSpec&) const = default;
};

// The mark that a camera's ERROR message carries in its details when its device is gone.
inline constexpr char kTestCamDeviceLostField[] = "device-lost";
inline constexpr char kTestCamDeviceLostText[] = "Device has been unplugged";

// Registers the element and the device provider statically (tests, benchmarks). Idempotent.
bool TestCamRegisterStatic();

// Replaces the provider's camera list; started providers post device-removed for cameras that
// left and device-added for those that came, so monitors see the new list in its order.
// Main thread only; not from a bus sync handler.
void TestCamSetCameras(const std::vector<TestCameraSpec>& cameras);
