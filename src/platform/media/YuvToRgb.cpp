#include "platform/media/YuvToRgb.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace platform {

namespace {

// A byte taken to a signed sample around 128 and spread over a 16-bit word, then multiplied
// keeping the high half: the converter's "subtract 128, splat, multiply high".
int Spread(uint8_t sample) noexcept {
  const auto centred = static_cast<uint8_t>(sample ^ 0x80);
  return static_cast<int16_t>(static_cast<uint16_t>(centred << 8 | centred));
}

int MultiplyHigh(int spread, int16_t coefficient) noexcept {
  return (spread * coefficient) >> 16;
}

uint32_t Saturated(int value) noexcept {
  return static_cast<uint32_t>(std::clamp(value, -128, 127) + 128);
}

}  // namespace

std::optional<YuvToRgb> YuvToRgb::For(const GstVideoInfo& info) noexcept {
  if (!info.finfo || !GST_VIDEO_FORMAT_INFO_IS_YUV(info.finfo))
    return std::nullopt;
  gdouble kr = 0;
  gdouble kb = 0;
  if (!gst_video_color_matrix_get_Kr_Kb(info.colorimetry.matrix, &kr, &kb))
    return std::nullopt;
  gint offset[4];
  gint scale[4];
  gst_video_color_range_offsets(info.colorimetry.range,
                                gst_video_format_get_info(GST_VIDEO_FORMAT_AYUV), offset, scale);
  const double kg = 1.0 - kr - kb;
  // Each sample brought to 0..1 (the reciprocal taken in single precision, as the converter
  // does), to RGB, to 0..255, and to 8 fractional bits.
  auto coefficient = [&](double of, int component) {
    const double toUnit = 1 / static_cast<float>(scale[component]);
    return static_cast<int16_t>(std::rint(of * toUnit * 255.0 * 256.0));
  };
  YuvToRgb m;
  m.luma_ = coefficient(1.0, 0);
  m.redV_ = coefficient(2 * (1 - kr), 2);
  m.blueU_ = coefficient(2 * (1 - kb), 1);
  m.greenU_ = coefficient(-2 * kb * (1 - kb) / kg, 1);
  m.greenV_ = coefficient(-2 * kr * (1 - kr) / kg, 2);
  return m;
}

void YuvToRgb::Row(const uint8_t* y, const uint8_t* u, const uint8_t* v, int width,
                   uint32_t* to) const noexcept {
  int x = 0;
#if defined(__SSE2__) && G_BYTE_ORDER == G_LITTLE_ENDIAN
  // Eight pixels at a time, the same operations on 16-bit lanes.
  const __m128i flip = _mm_set1_epi8(static_cast<char>(0x80));
  const __m128i opaque = _mm_set1_epi8(static_cast<char>(0xff));
  const __m128i luma = _mm_set1_epi16(luma_);
  const __m128i redV = _mm_set1_epi16(redV_);
  const __m128i blueU = _mm_set1_epi16(blueU_);
  const __m128i greenU = _mm_set1_epi16(greenU_);
  const __m128i greenV = _mm_set1_epi16(greenV_);
  auto spread = [&](const uint8_t* samples) {
    const __m128i centred =
        _mm_xor_si128(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(samples)), flip);
    return _mm_unpacklo_epi8(centred, centred);
  };
  for (; x + 8 <= width; x += 8) {
    const __m128i wy = _mm_mulhi_epi16(spread(y + x), luma);
    const __m128i wu = spread(u + x);
    const __m128i wv = spread(v + x);
    const __m128i red = _mm_add_epi16(wy, _mm_mulhi_epi16(wv, redV));
    const __m128i blue = _mm_add_epi16(wy, _mm_mulhi_epi16(wu, blueU));
    const __m128i green =
        _mm_add_epi16(_mm_add_epi16(wy, _mm_mulhi_epi16(wu, greenU)), _mm_mulhi_epi16(wv, greenV));
    const __m128i blueGreen = _mm_xor_si128(_mm_packs_epi16(blue, green), flip);
    const __m128i reds = _mm_xor_si128(_mm_packs_epi16(red, red), flip);
    const __m128i bg = _mm_unpacklo_epi8(blueGreen, _mm_srli_si128(blueGreen, 8));
    const __m128i ra = _mm_unpacklo_epi8(reds, opaque);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + x), _mm_unpacklo_epi16(bg, ra));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + x + 4), _mm_unpackhi_epi16(bg, ra));
  }
#endif
  for (; x < width; ++x) {
    const int wy = MultiplyHigh(Spread(y[x]), luma_);
    const int wu = Spread(u[x]);
    const int wv = Spread(v[x]);
    const uint32_t red = Saturated(wy + MultiplyHigh(wv, redV_));
    const uint32_t green = Saturated(wy + MultiplyHigh(wu, greenU_) + MultiplyHigh(wv, greenV_));
    const uint32_t blue = Saturated(wy + MultiplyHigh(wu, blueU_));
    to[x] = 0xff000000u | red << 16 | green << 8 | blue;
  }
}

}  // namespace platform
