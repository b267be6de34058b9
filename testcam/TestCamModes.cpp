#include "TestCamModes.h"

#include <cstdio>
#include <sstream>

#include "TestCamTypes.h"

namespace testcam {

namespace {

bool ParseMode(const std::string& entry, Mode& mode) {
  char format[16] = {};
  int consumed = 0;
  if (std::sscanf(entry.c_str(), " %15s %dx%d@%d %n", format, &mode.width, &mode.height, &mode.fps,
                  &consumed) != 4 ||
      static_cast<size_t>(consumed) != entry.size()) {
    return false;
  }
  mode.format = format;
  return IsKnownFormat(mode.format) && mode.width >= 16 && mode.height >= 16 && mode.fps >= 1;
}

GstCaps* ModeCaps(const Mode& mode, const char* rawFormat) {
  if (!rawFormat) {
    return gst_caps_new_simple("image/jpeg", "width", G_TYPE_INT, mode.width, "height", G_TYPE_INT,
                               mode.height, "framerate", GST_TYPE_FRACTION, mode.fps, 1, nullptr);
  }
  return gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, rawFormat, "width", G_TYPE_INT,
                             mode.width, "height", G_TYPE_INT, mode.height, "framerate",
                             GST_TYPE_FRACTION, mode.fps, 1, nullptr);
}

}  // namespace

bool IsKnownFormat(const std::string& format) {
  for (const char* known : {"YUY2", "NV12", "I420", "GRAY8", "BGR", "MJPEG"}) {
    if (format == known)
      return true;
  }
  return false;
}

bool ParseModes(const std::string& text, std::vector<Mode>& modes) {
  std::vector<Mode> parsed;
  std::istringstream entries(text);
  for (std::string entry; std::getline(entries, entry, ',');) {
    Mode mode;
    if (!ParseMode(entry, mode))
      return false;
    parsed.push_back(mode);
  }
  if (parsed.empty())
    return false;
  modes = std::move(parsed);
  return true;
}

std::vector<Mode> CameraModes(const TestCameraSpec& spec) {
  std::vector<Mode> modes;
  if (!spec.modes.empty() && ParseModes(spec.modes, modes))
    return modes;
  return {{spec.format, spec.width, spec.height, spec.fps}};
}

GstCaps* ModesCaps(const std::vector<Mode>& modes) {
  GstCaps* caps = gst_caps_new_empty();
  for (const Mode& mode : modes) {
    caps = gst_caps_merge(caps, ModeCaps(mode, mode.Compressed() ? nullptr : mode.format.c_str()));
  }
  return caps;
}

GstCaps* ModesCaps(const std::vector<Mode>& modes, bool compressed) {
  std::vector<Mode> some;
  for (const Mode& mode : modes) {
    if (mode.Compressed() == compressed)
      some.push_back(mode);
  }
  return ModesCaps(some);
}

GstCaps* EncoderInputCaps(const std::vector<Mode>& modes) {
  GstCaps* caps = gst_caps_new_empty();
  for (const Mode& mode : modes) {
    if (mode.Compressed())
      caps = gst_caps_merge(caps, ModeCaps(mode, "I420"));
  }
  return caps;
}

GstCaps* CameraCaps(const TestCameraSpec& spec) {
  return ModesCaps(CameraModes(spec));
}

}  // namespace testcam

const char* TestCamProfileModes(const std::string& name) {
  for (const TestCamProfile& profile : kTestCamProfiles) {
    if (name == profile.name)
      return profile.modes;
  }
  return nullptr;
}
