#include "platform/media/FrameScaler.h"

#include <gst/video/video.h>

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
    converter = gst_video_converter_new(&in, &out, ScalingOptions(in.finfo->format));
    converterSize = size;
    return converter != nullptr;
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
    dest.info = out;
    dest.info.stride[0] = static_cast<gint>(image.bytesPerLine());
    dest.info.offset[0] = 0;
    dest.data[0] = image.bits();
    gst_video_converter_frame(converter, &source, &dest);
    gst_video_frame_unmap(&source);
    return true;
  }

  GstVideoConverter* converter = nullptr;
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
