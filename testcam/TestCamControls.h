#pragma once
// The test camera's controls, kept as a device keeps them: per camera, shared by every element
// opened on it (so a second element reaches the one streaming, as a second descriptor of a
// V4L2 node does), and forgotten when the camera leaves the list, as a replugged camera forgets.

#include <gst/video/video.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "TestCamList.h"

namespace testcam {

// "Color Effects", as V4L2 numbers the first items of its menu of that name.
enum ColorEffect : int { kEffectNone = 0, kEffectBlackAndWhite = 1, kEffectNegative = 6 };
inline constexpr int kBrightnessMin = -128;
inline constexpr int kBrightnessMax = 127;

struct Controls {
  std::atomic<int> brightness{0};  // added to the luma (every channel of an RGB picture)
  std::atomic<int> effect{kEffectNone};
};

// The controls of the listed camera `id`, made at first use.
std::shared_ptr<Controls> ControlsOf(std::uint64_t id);
// Forgets the controls of the cameras not among `entries`.
void ForgetControlsNotIn(const std::vector<CameraEntry>& entries);

// Runs on the streaming thread: the controls applied to a mapped raw frame, in place.
void ApplyControls_Streaming(const Controls& controls, GstVideoFrame& frame) noexcept;

}  // namespace testcam
