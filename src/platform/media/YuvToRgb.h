#pragma once
// 8-bit YUV rows to 32-bit screen pixels with the arithmetic GStreamer's converter itself uses
// for 4:4:4 YUV to RGB (coefficients of 8 fractional bits, rounded as it rounds them, applied
// to samples centred on 128), so that a small picture converted here has the colours the full
// picture's conversion gives the same samples, at a fraction of the cost of going through the
// converter for every view's picture.

#include <gst/video/video.h>

#include <cstdint>
#include <optional>

namespace platform {

class YuvToRgb {
 public:
  // The conversion of frames with `info`'s matrix and range to full-range RGB; none for a frame
  // that is not YUV or whose matrix GStreamer does not convert.
  static std::optional<YuvToRgb> For(const GstVideoInfo& info) noexcept;

  // `width` pixels from the samples at `y`, `u` and `v`, as QImage::Format_RGB32 words.
  void Row(const uint8_t* y, const uint8_t* u, const uint8_t* v, int width,
           uint32_t* to) const noexcept;

 private:
  int16_t luma_ = 0;    // of Y, in every component
  int16_t redV_ = 0;    // of V in red
  int16_t blueU_ = 0;   // of U in blue
  int16_t greenU_ = 0;  // of U in green
  int16_t greenV_ = 0;  // of V in green
};

}  // namespace platform
