#include "platform/media/FrameScaler.h"

#include <gst/video/video.h>

#include <algorithm>
#include <vector>

#include "platform/media/VideoFrame.h"

namespace platform {

namespace {

// QImage::Format_RGB32 holds a native 32-bit word 0xffRRGGBB.
#if G_BYTE_ORDER == G_LITTLE_ENDIAN
constexpr GstVideoFormat kRgb32 = GST_VIDEO_FORMAT_BGRx;
#else
constexpr GstVideoFormat kRgb32 = GST_VIDEO_FORMAT_xRGB;
#endif

// The full-size conversion of these formats to BGR takes GStreamer's fast path, which gives
// every pixel the chroma sample it lies in instead of interpolating between samples; the small
// picture does the same, or its colours would differ from the full picture's at every edge.
bool FullConversionInterpolatesChroma(GstVideoFormat format) {
  switch (format) {
    case GST_VIDEO_FORMAT_I420:
    case GST_VIDEO_FORMAT_YV12:
    case GST_VIDEO_FORMAT_A420:
      return false;
    default:
      return true;
  }
}

GstStructure* ScalingOptions(GstVideoFormat in) {
  return gst_structure_new(
      "FrameScaler", GST_VIDEO_CONVERTER_OPT_RESAMPLER_METHOD, GST_TYPE_VIDEO_RESAMPLER_METHOD,
      GST_VIDEO_RESAMPLER_METHOD_NEAREST, GST_VIDEO_CONVERTER_OPT_CHROMA_RESAMPLER_METHOD,
      GST_TYPE_VIDEO_RESAMPLER_METHOD, GST_VIDEO_RESAMPLER_METHOD_LINEAR,
      GST_VIDEO_CONVERTER_OPT_CHROMA_MODE, GST_TYPE_VIDEO_CHROMA_MODE,
      FullConversionInterpolatesChroma(in) ? GST_VIDEO_CHROMA_MODE_FULL
                                           : GST_VIDEO_CHROMA_MODE_NONE,
      GST_VIDEO_CONVERTER_OPT_DITHER_METHOD, GST_TYPE_VIDEO_DITHER_METHOD, GST_VIDEO_DITHER_BAYER,
      GST_VIDEO_CONVERTER_OPT_DITHER_QUANTIZATION, G_TYPE_UINT, 1u,
      GST_VIDEO_CONVERTER_OPT_MATRIX_MODE, GST_TYPE_VIDEO_MATRIX_MODE, GST_VIDEO_MATRIX_MODE_FULL,
      GST_VIDEO_CONVERTER_OPT_GAMMA_MODE, GST_TYPE_VIDEO_GAMMA_MODE, GST_VIDEO_GAMMA_MODE_NONE,
      GST_VIDEO_CONVERTER_OPT_PRIMARIES_MODE, GST_TYPE_VIDEO_PRIMARIES_MODE,
      GST_VIDEO_PRIMARIES_MODE_NONE, GST_VIDEO_CONVERTER_OPT_THREADS, G_TYPE_UINT, 1u, nullptr);
}

// Packed 4:2:2 frames, most cameras' raw format, are sampled before they are converted: for
// each picture pixel the frame pixel the scaling converter would pick (the floor of the
// centre's position, so a centre on an edge takes the right or lower pixel), with the chroma
// the full conversion gives it, gathered into a picture-sized 4:4:4 frame. Its conversion then
// costs the picture's pixels, not the frame's, and its colours are the full conversion's.
bool IsPacked422(GstVideoFormat format) {
  return format == GST_VIDEO_FORMAT_YUY2 || format == GST_VIDEO_FORMAT_UYVY ||
         format == GST_VIDEO_FORMAT_YVYU;
}

// The frame position nearest each of `count` picture positions across `extent`.
void NearestPositions(int extent, int count, std::vector<int>& positions) {
  positions.resize(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    const long long centre = (2LL * i + 1) * extent / (2LL * count);
    positions[static_cast<size_t>(i)] = static_cast<int>(std::min<long long>(centre, extent - 1));
  }
}

}  // namespace

struct FrameScaler::Impl {
  ~Impl() { FreeConverter(); }

  void FreeConverter() {
    if (converter)
      gst_video_converter_free(converter);
    converter = nullptr;
  }

  // A converter from `in` to `size`, the one held when it fits.
  bool Prepare(const GstVideoInfo& source, QSize size) {
    if (converter && gst_video_info_is_equal(&source, &in) && size == converterSize)
      return true;
    FreeConverter();
    in = source;
    gst_video_info_set_interlaced_format(&out, kRgb32, GST_VIDEO_INFO_INTERLACE_MODE(&in),
                                         static_cast<guint>(size.width()),
                                         static_cast<guint>(size.height()));
    out.fps_n = in.fps_n;
    out.fps_d = in.fps_d;
    out.views = in.views;
    converterSize = size;
    sampled = IsPacked422(GST_VIDEO_INFO_FORMAT(&in)) && !GST_VIDEO_INFO_IS_INTERLACED(&in);
    if (!sampled) {
      converter = gst_video_converter_new(&in, &out, ScalingOptions(in.finfo->format));
      return converter != nullptr;
    }
    // The gathered frame: the picture's size and the frame's colours; converted unscaled.
    gst_video_info_set_format(&small, GST_VIDEO_FORMAT_AYUV, static_cast<guint>(size.width()),
                              static_cast<guint>(size.height()));
    small.colorimetry = in.colorimetry;
    small.fps_n = in.fps_n;
    small.fps_d = in.fps_d;
    smallBytes.resize(GST_VIDEO_INFO_SIZE(&small));
    gst_video_info_set_format(&smallOut, kRgb32, static_cast<guint>(size.width()),
                              static_cast<guint>(size.height()));
    smallOut.fps_n = in.fps_n;
    smallOut.fps_d = in.fps_d;
    NearestPositions(GST_VIDEO_INFO_WIDTH(&in), size.width(), columns);
    NearestPositions(GST_VIDEO_INFO_HEIGHT(&in), size.height(), rows);
    converter = gst_video_converter_new(&small, &smallOut, ScalingOptions(in.finfo->format));
    return converter != nullptr;
  }

  // Gathers the nearest samples of the mapped packed 4:2:2 `source` into `smallBytes`.
  void Gather(const GstVideoFrame& source) {
    const GstVideoFormatInfo* format = in.finfo;
    const int luma = GST_VIDEO_FORMAT_INFO_POFFSET(format, 0);
    const int blue = GST_VIDEO_FORMAT_INFO_POFFSET(format, 1);
    const int red = GST_VIDEO_FORMAT_INFO_POFFSET(format, 2);
    const auto* base = static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&source, 0));
    const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&source, 0);
    const int lastColumn = GST_VIDEO_INFO_WIDTH(&in) - 1;
    const bool cosited = (in.chroma_site & GST_VIDEO_CHROMA_SITE_H_COSITED) != 0;
    const int smallStride = GST_VIDEO_INFO_PLANE_STRIDE(&small, 0);
    for (size_t y = 0; y < rows.size(); ++y) {
      const uint8_t* row = base + static_cast<ptrdiff_t>(rows[y]) * stride;
      uint8_t* to = smallBytes.data() + static_cast<ptrdiff_t>(y) * smallStride;
      for (size_t x = 0; x < columns.size(); ++x, to += 4) {
        const int at = columns[x];
        const uint8_t* macro = row + static_cast<ptrdiff_t>(at & ~1) * 2;
        // The chroma the full conversion gives the pixel: cosited samples are the even
        // pixels' own and are averaged for odd ones; centred samples are weighed 3:1 with the
        // neighbour on the pixel's side.
        const bool odd = (at & 1) != 0;
        const uint8_t* other = macro;
        if (odd && at < lastColumn)
          other = macro + 4;
        else if (!odd && !cosited && at >= 2)
          other = macro - 4;
        to[0] = 0xff;
        to[1] = row[static_cast<ptrdiff_t>(at) * 2 + luma];
        if (cosited) {
          to[2] = static_cast<uint8_t>((macro[blue] + other[blue] + 1) >> 1);
          to[3] = static_cast<uint8_t>((macro[red] + other[red] + 1) >> 1);
        } else {
          to[2] = static_cast<uint8_t>((3 * macro[blue] + other[blue] + 2) >> 2);
          to[3] = static_cast<uint8_t>((3 * macro[red] + other[red] + 2) >> 2);
        }
      }
    }
  }

  bool Convert(const VideoFrame& frame, QSize size) {
    if (!Prepare(frame.Info(), size))
      return false;
    if (image.size() != size || image.format() != QImage::Format_RGB32)
      image = QImage(size, QImage::Format_RGB32);
    if (image.isNull())
      return false;
    GstVideoInfo info = frame.Info();
    GstVideoFrame source;
    if (!gst_video_frame_map(&source, &info, frame.Buffer(), GST_MAP_READ))
      return false;
    GstVideoFrame dest{};
    dest.info = sampled ? smallOut : out;
    dest.info.stride[0] = static_cast<gint>(image.bytesPerLine());
    dest.info.offset[0] = 0;
    dest.data[0] = image.bits();
    if (sampled) {
      Gather(source);
      gst_video_frame_unmap(&source);
      GstVideoFrame gathered{};
      gathered.info = small;
      for (guint p = 0; p < GST_VIDEO_INFO_N_PLANES(&small); ++p)
        gathered.data[p] = smallBytes.data() + GST_VIDEO_INFO_PLANE_OFFSET(&small, p);
      gst_video_converter_frame(converter, &gathered, &dest);
      return true;
    }
    gst_video_converter_frame(converter, &source, &dest);
    gst_video_frame_unmap(&source);
    return true;
  }

  GstVideoConverter* converter = nullptr;
  bool sampled = false;  // packed 4:2:2, gathered first into `small`
  GstVideoInfo small{};
  GstVideoInfo smallOut{};
  std::vector<uint8_t> smallBytes;
  std::vector<int> columns;
  std::vector<int> rows;
  GstVideoInfo in{};
  GstVideoInfo out{};
  QSize converterSize;
  QImage image;
  const QImage none;
  uint64_t serial = 0;  // of the frame `image` shows; 0: none
};

FrameScaler::FrameScaler() : impl_(std::make_unique<Impl>()) {}

FrameScaler::~FrameScaler() = default;

const QImage& FrameScaler::Scale(const VideoFrame& frame, QSize size) {
  Impl& s = *impl_;
  if (!frame || size.isEmpty())
    return s.none;
  if (s.serial == frame.Serial() && s.image.size() == size)
    return s.image;
  s.serial = 0;
  if (!s.Convert(frame, size))
    return s.none;
  s.serial = frame.Serial();
  return s.image;
}

}  // namespace platform
