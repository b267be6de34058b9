#pragma once
// The test camera: a GStreamer element ("stillwicktestcam") and a device provider of class
// "Video/Source" ("stillwickcameras") whose camera list is set from code. It stands in for a
// real camera on machines that have none, and lets tests choose their devices.
//
// Conventions the pipeline layer relies on:
// - A camera offers one or more modes (format, size, rate); the element's source pad offers all
//   of them, opened or not, and delivers the one downstream settles on (the first it accepts).
// - Opening a camera (NULL -> READY) whose device node is gone fails, as v4l2src 1.22 does
//   (gst_v4l2_open): an ERROR from the element, domain GST_RESOURCE_ERROR, code
//   GST_RESOURCE_ERROR_NOT_FOUND, text "Cannot identify device '<node>'.". This happens when
//   open-error is "not-found", or when the camera's device node ("device") has left the list.
// - A busy camera (open-error "busy", the device in use by another program) opens, and then
//   fails READY -> PAUSED with an ERROR of code GST_RESOURCE_ERROR_BUSY, text
//   "Device '<node>' is busy". v4l2src posts that same error when VIDIOC_S_FMT answers EBUSY as
//   it sets the format, on its streaming thread just after READY -> PAUSED; failing the state
//   change itself also lets a start fail at once, the harder case for a caller.
// - A camera that loses its device (after failAfterFrames frames, or when it leaves the list
//   while open) stops delivering buffers and ends as `end` says. "error": one ERROR message
//   whose source is the camera element itself: domain GST_RESOURCE_ERROR, code
//   GST_RESOURCE_ERROR_READ, text "Device has been unplugged", and in the details structure
//   (gst_message_parse_error_details) the boolean field "device-lost" = TRUE. "eos": end of
//   stream downstream and no error, as some sources do when their device goes away. "silent":
//   nothing at all, the stream just goes quiet (a camera unplugged behind PipeWire 0.3.65).
// - With modes-hidden, the element's pad offers anything (ANY) until the camera streams, as
//   pipewiresrc does; the device still lists every mode (gst_device_get_caps).
// - start-delay holds READY -> PAUSED that many milliseconds on the thread that asks for it,
//   as pipewiresrc's start waits for PipeWire (up to 30 s when the camera cannot start).
// - Each device's properties structure (gst_device_get_properties) carries the identity hints
//   "device.api" = "stillwicktestcam", "device.serial" (when the camera has one),
//   "device.bus_path" (when set) and "device.path" = "/dev/stillwicktestcam<N>". N is kept while
//   a camera stays in the list; a new camera takes the lowest free N, as device nodes do.
// - gst_device_create_element gives a "stillwicktestcam" whose properties "device" (the node),
//   "device-name", "serial", "width", "height", "framerate", "format", "modes", "pattern",
//   "open-error", "fail-after-frames", "end", "modes-hidden" and "start-delay" are the camera's
//   settings.
// - Its controls are properties marked GST_PARAM_CONTROLLABLE, named by their nicks as a
//   driver names its controls: "brightness" ("Brightness", -128 to 127, default 0: added to
//   the luma, or to every channel of BGR) and "color-effects" ("Color Effects", a menu: 0 None,
//   1 Black & White, 6 Negative, V4L2's numbers). They change the pictures, before any JPEG
//   encoder, also while streaming. Like a device's, they belong to the camera: every element
//   made for a listed camera reads and sets the same values (a second element reaches the one
//   streaming, as a second descriptor of a V4L2 node does), and a camera that leaves the list
//   forgets them, as a replugged one does.
// - With no list set from code, the cameras come from the environment variable STILLWICK_TESTCAM
//   when it is set (structures separated by ";", e.g.
//   `camera, name="Cam A", format=MJPEG, width=1280, height=720, fps=30, fail-after-frames=100`
//   or `camera, name="Webcam", profile=usb-webcam, end=eos, fail-after-frames=300`; fields as
//   in TestCameraSpec, "serial", "has-serial", "bus-path", "modes", "pattern", "open-error",
//   "end", "modes-hidden", "arrive-after" and "leave-after" too, and "profile" for the modes of a
//   profile below; empty: no cameras), otherwise two: "Stillwick Test Camera" (YUY2 640x480 at 30)
//   and "Stillwick Test Camera (MJPEG)" (MJPEG 1280x720 at 30, a moving ball).

#include <string>
#include <vector>

struct TestCameraSpec {
  std::string name = "Stillwick Test Camera";  // the device's display name
  // Identity hint; empty: derived from the name and its place among namesakes.
  std::string serial{};
  bool hasSerial = true;  // false: the device offers no serial, as many cheap cameras do
  std::string busPath{};  // identity hint "device.bus_path"; empty: none
  // The one mode of a simple camera.
  int width = 640;
  int height = 480;
  int fps = 30;
  std::string format = "YUY2";  // "YUY2", "NV12", "I420", "GRAY8", "BGR" or "MJPEG"
  // A list of modes in the device's order, e.g. "YUY2 640x480@30, MJPEG 1920x1080@30"; it
  // replaces the one mode above. Empty: that one mode.
  std::string modes{};
  std::string pattern = "smpte";  // a videotestsrc pattern nick
  std::string openError{};        // "busy" or "not-found": opening the device fails so
  int failAfterFrames = -1;       // >= 0: the device goes away after N frames
  std::string end = "error";  // how a camera whose device went away ends: "error", "eos", "silent"
  bool modesHidden = false;   // its element offers no modes until it streams
  int startDelayMs = 0;       // how long its start (READY -> PAUSED) is held
  // Plugging in and out while a program runs, counted from when the list was set: the camera
  // is listed from arriveAfterMs on, and leaves the list (unplugged, if open) at leaveAfterMs
  // (< 0: never). Open cameras, probes and started providers all see it.
  int arriveAfterMs = 0;
  int leaveAfterMs = -1;

  bool operator==(const TestCameraSpec&) const = default;
};

// Mode lists as real devices offer them (what `v4l2-ctl --list-formats-ext` shows), for
// TestCameraSpec::modes and "profile=" in STILLWICK_TESTCAM. Over USB 2 a video-class (UVC)
// device sends raw YUYV at big sizes only at low rates, and MJPEG at full rate.
struct TestCamProfile {
  const char* name;
  const char* modes;
};
inline constexpr TestCamProfile kTestCamProfiles[] = {
    // UVC webcams and document cameras, e.g. the Logitech C920 (uvcvideo): YUYV at 640x480@30,
    // 1280x720@10 and 1920x1080@5, MJPG at 30 up to 1920x1080.
    {"usb-webcam",
     "YUY2 640x480@30, YUY2 1280x720@10, YUY2 1920x1080@5, MJPEG 640x480@30, "
     "MJPEG 1280x720@30, MJPEG 1920x1080@30"},
    // 5 MP USB microscope eyepiece cameras: a 2592x1944 sensor behind a UVC bridge that offers
    // YUYV only, down to 2 frames a second at full size.
    {"microscope",
     "YUY2 640x480@30, YUY2 1280x960@7, YUY2 1600x1200@5, YUY2 2048x1536@3, YUY2 2592x1944@2"},
    // Monochrome microscope and industrial cameras: 8-bit grey (V4L2 'GREY', GStreamer GRAY8).
    {"monochrome", "GRAY8 640x480@60, GRAY8 1280x960@30"},
    // USB 3 HDMI capture cards: uncompressed 4:2:2 and 4:2:0 at the picture source's rate.
    {"capture-card", "YUY2 1280x720@60, NV12 1280x720@60, YUY2 1920x1080@60, NV12 1920x1080@60"},
};
// The modes of the profile `name`; null when there is none.
const char* TestCamProfileModes(const std::string& name);

// The mark that a camera's ERROR message carries in its details when its device is gone.
inline constexpr char kTestCamDeviceLostField[] = "device-lost";
inline constexpr char kTestCamDeviceLostText[] = "Device has been unplugged";

// Registers the element and the device provider statically (tests, benchmarks). Idempotent.
bool TestCamRegisterStatic();

// How many buffers the cameras of this display name pushed that are still out: neither back in
// their pool nor freed (a mark on each buffer pushed goes when it does; copies carry none).
// Once a graph is down, every one still out is a frame something holds. Any thread.
int TestCamBuffersOut(const std::string& name);

// Replaces the provider's camera list; started providers post device-removed for cameras that
// left and device-added for those that came, so monitors see the new list in its order. An open
// camera that left the list loses its device, as an unplugged one does.
// Main thread only; not from a bus sync handler.
void TestCamSetCameras(const std::vector<TestCameraSpec>& cameras);
