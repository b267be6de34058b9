#include "TestCamControls.h"

#include <algorithm>
#include <map>
#include <mutex>

namespace testcam {

namespace {

struct Kept {
  std::mutex mutex;  // guards byId; any thread that makes or forgets a camera's controls
  std::map<std::uint64_t, std::shared_ptr<Controls>> byId;
};

Kept& Store() {
  static Kept kept;
  return kept;
}

guint8 Saturate(int value) {
  return static_cast<guint8>(std::clamp(value, 0, 255));
}

// Calls f(byte) for every sample of component `c`.
template <typename F>
void EachSample(GstVideoFrame& frame, guint c, F&& f) {
  guint8* data = static_cast<guint8*>(GST_VIDEO_FRAME_COMP_DATA(&frame, c));
  const int stride = GST_VIDEO_FRAME_COMP_STRIDE(&frame, c);
  const int step = GST_VIDEO_FRAME_COMP_PSTRIDE(&frame, c);
  const int width = GST_VIDEO_FRAME_COMP_WIDTH(&frame, c);
  const int height = GST_VIDEO_FRAME_COMP_HEIGHT(&frame, c);
  for (int y = 0; y < height; ++y) {
    guint8* row = data + static_cast<std::ptrdiff_t>(y) * stride;
    for (int x = 0; x < width; ++x)
      f(row[static_cast<std::ptrdiff_t>(x) * step]);
  }
}

}  // namespace

std::shared_ptr<Controls> ControlsOf(std::uint64_t id) {
  std::lock_guard lock(Store().mutex);
  std::shared_ptr<Controls>& controls = Store().byId[id];
  if (!controls)
    controls = std::make_shared<Controls>();
  return controls;
}

void ForgetControlsNotIn(const std::vector<CameraEntry>& entries) {
  std::lock_guard lock(Store().mutex);
  std::erase_if(Store().byId, [&](const auto& kept) {
    return std::none_of(entries.begin(), entries.end(),
                        [&](const CameraEntry& e) { return e.id == kept.first; });
  });
}

void ApplyControls_Streaming(const Controls& controls, GstVideoFrame& frame) noexcept {
  const int brightness = controls.brightness.load(std::memory_order_relaxed);
  const int effect = controls.effect.load(std::memory_order_relaxed);
  const GstVideoFormatInfo* info = frame.info.finfo;
  const bool yuv = GST_VIDEO_FORMAT_INFO_IS_YUV(info);
  const bool rgb = GST_VIDEO_FORMAT_INFO_IS_RGB(info);
  const guint components = std::min(GST_VIDEO_FORMAT_INFO_N_COMPONENTS(info), 3u);
  if (GST_VIDEO_FORMAT_INFO_DEPTH(info, 0) != 8)
    return;
  for (guint c = 0; c < components; ++c) {
    const bool luma = !yuv || c == 0;  // every channel of RGB carries the brightness
    EachSample(frame, c, [&](guint8& sample) {
      int value = sample;
      if (luma)
        value += brightness;
      if (effect == kEffectBlackAndWhite && yuv && !luma)
        value = 128;
      if (effect == kEffectNegative)
        value = 255 - value;
      sample = Saturate(value);
    });
  }
  if (effect == kEffectBlackAndWhite && rgb && components == 3) {
    guint8* data = static_cast<guint8*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
    const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
    const int step = GST_VIDEO_FRAME_COMP_PSTRIDE(&frame, 0);
    for (int y = 0; y < GST_VIDEO_FRAME_HEIGHT(&frame); ++y) {
      guint8* pixel = data + static_cast<std::ptrdiff_t>(y) * stride;
      for (int x = 0; x < GST_VIDEO_FRAME_WIDTH(&frame); ++x, pixel += step) {
        const guint8 grey = static_cast<guint8>((pixel[0] + pixel[1] + pixel[2]) / 3);
        pixel[0] = pixel[1] = pixel[2] = grey;
      }
    }
  }
}

}  // namespace testcam
