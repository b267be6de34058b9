#pragma once
// The modes a camera offers ("YUY2 1280x720@10, MJPEG 1920x1080@30") and the caps that say so.

#include <gst/gst.h>

#include <string>
#include <vector>

#include "TestCam.h"

namespace testcam {

struct Mode {
  std::string format;  // "YUY2", "NV12", "I420", "GRAY8", "BGR" or "MJPEG"
  int width = 0;
  int height = 0;
  int fps = 0;

  bool Compressed() const { return format == "MJPEG"; }
  bool operator==(const Mode&) const = default;
};

bool IsKnownFormat(const std::string& format);

// Reads a mode list; false (and `modes` untouched) when any entry is malformed or empty.
bool ParseModes(const std::string& text, std::vector<Mode>& modes);

// The camera's modes: its mode list when it has one, else the one mode of its single fields.
std::vector<Mode> CameraModes(const TestCameraSpec& spec);

// One structure per mode, in the camera's order: image/jpeg for MJPEG, video/x-raw otherwise.
// With `compressed` false or true, only the raw or only the MJPEG modes. Transfer full.
GstCaps* ModesCaps(const std::vector<Mode>& modes);
GstCaps* ModesCaps(const std::vector<Mode>& modes, bool compressed);
// The raw pictures the JPEG encoder is fed for the MJPEG modes (4:2:0, as cameras encode).
GstCaps* EncoderInputCaps(const std::vector<Mode>& modes);

}  // namespace testcam
