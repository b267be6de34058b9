#include "platform/media/VideoFrame.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

namespace {

std::atomic<uint64_t> lastSerial{0};

// Every raw format GStreamer knows, BGR first; ENCODED and UNKNOWN are not pictures.
const std::vector<GstVideoFormat>& ConvertibleFormats() {
  static const std::vector<GstVideoFormat> formats = [] {
    std::vector<GstVideoFormat> list{GST_VIDEO_FORMAT_BGR};
    guint count = 0;
    const GstVideoFormat* all = gst_video_formats_raw(&count);
    for (guint i = 0; i < count; ++i) {
      if (all[i] != GST_VIDEO_FORMAT_BGR && all[i] != GST_VIDEO_FORMAT_UNKNOWN &&
          all[i] != GST_VIDEO_FORMAT_ENCODED) {
        list.push_back(all[i]);
      }
    }
    return list;
  }();
  return formats;
}

// The options `videoconvert` of GStreamer 1.22 gives its converter with every property at its
// default (gstvideoconvertscale.c, set_info), but for the thread count: the pipeline builder set
// n-threads=2 on the converters it inserted.
GstStructure* VideoconvertOptions(int width, int height) {
  return gst_structure_new(
      "GstVideoConvertScale", GST_VIDEO_CONVERTER_OPT_RESAMPLER_METHOD,
      GST_TYPE_VIDEO_RESAMPLER_METHOD, GST_VIDEO_RESAMPLER_METHOD_LINEAR,
      GST_VIDEO_RESAMPLER_OPT_MAX_TAPS, G_TYPE_INT, 2, GST_VIDEO_RESAMPLER_OPT_ENVELOPE,
      G_TYPE_DOUBLE, 2.0, GST_VIDEO_RESAMPLER_OPT_SHARPNESS, G_TYPE_DOUBLE, 1.0,
      GST_VIDEO_RESAMPLER_OPT_SHARPEN, G_TYPE_DOUBLE, 0.0, GST_VIDEO_CONVERTER_OPT_DEST_X,
      G_TYPE_INT, 0, GST_VIDEO_CONVERTER_OPT_DEST_Y, G_TYPE_INT, 0,
      GST_VIDEO_CONVERTER_OPT_DEST_WIDTH, G_TYPE_INT, width, GST_VIDEO_CONVERTER_OPT_DEST_HEIGHT,
      G_TYPE_INT, height, GST_VIDEO_CONVERTER_OPT_DITHER_METHOD, GST_TYPE_VIDEO_DITHER_METHOD,
      GST_VIDEO_DITHER_BAYER, GST_VIDEO_CONVERTER_OPT_DITHER_QUANTIZATION, G_TYPE_UINT, 1u,
      GST_VIDEO_CONVERTER_OPT_CHROMA_RESAMPLER_METHOD, GST_TYPE_VIDEO_RESAMPLER_METHOD,
      GST_VIDEO_RESAMPLER_METHOD_LINEAR, GST_VIDEO_CONVERTER_OPT_ALPHA_MODE,
      GST_TYPE_VIDEO_ALPHA_MODE, GST_VIDEO_ALPHA_MODE_COPY, GST_VIDEO_CONVERTER_OPT_ALPHA_VALUE,
      G_TYPE_DOUBLE, 1.0, GST_VIDEO_CONVERTER_OPT_CHROMA_MODE, GST_TYPE_VIDEO_CHROMA_MODE,
      GST_VIDEO_CHROMA_MODE_FULL, GST_VIDEO_CONVERTER_OPT_MATRIX_MODE, GST_TYPE_VIDEO_MATRIX_MODE,
      GST_VIDEO_MATRIX_MODE_FULL, GST_VIDEO_CONVERTER_OPT_GAMMA_MODE, GST_TYPE_VIDEO_GAMMA_MODE,
      GST_VIDEO_GAMMA_MODE_NONE, GST_VIDEO_CONVERTER_OPT_PRIMARIES_MODE,
      GST_TYPE_VIDEO_PRIMARIES_MODE, GST_VIDEO_PRIMARIES_MODE_NONE, GST_VIDEO_CONVERTER_OPT_THREADS,
      G_TYPE_UINT, 2u, nullptr);
}

// What `videoconvert` negotiated on its output for a DIB format: the frame's size, rate,
// aspect and interlacing, in the RGB format's default colorimetry.
GstVideoInfo DibInfo(const GstVideoInfo& in, GstVideoFormat format) {
  GstVideoInfo out;
  gst_video_info_set_interlaced_format(&out, format, GST_VIDEO_INFO_INTERLACE_MODE(&in),
                                       GST_VIDEO_INFO_WIDTH(&in), GST_VIDEO_INFO_HEIGHT(&in));
  out.fps_n = in.fps_n;
  out.fps_d = in.fps_d;
  out.par_n = in.par_n;
  out.par_d = in.par_d;
  out.views = in.views;
  return out;
}

// One full-size converter, kept for the next frame of the same format: making one costs more
// than many conversions. Any thread; one conversion at a time.
class FullConverter {
 public:
  bool Convert(const GstVideoFrame& source, GstVideoFormat format, uint8_t* top,
               std::ptrdiff_t stride) {
    std::lock_guard guard(lock_);
    if (!converter_ || !gst_video_info_is_equal(&in_, &source.info) ||
        GST_VIDEO_INFO_FORMAT(&out_) != format) {
      Reset();
      in_ = source.info;
      out_ = DibInfo(source.info, format);
      converter_ =
          gst_video_converter_new(&in_, &out_, VideoconvertOptions(out_.width, out_.height));
      if (!converter_)
        return false;
    }
    GstVideoFrame dest{};
    dest.info = out_;
    dest.info.stride[0] = static_cast<gint>(stride);
    dest.info.offset[0] = 0;
    dest.data[0] = top;
    gst_video_converter_frame(converter_, &source, &dest);
    return true;
  }

 private:
  void Reset() {
    if (converter_)
      gst_video_converter_free(converter_);
    converter_ = nullptr;
  }

  std::mutex lock_;  // guards everything below
  GstVideoConverter* converter_ = nullptr;
  GstVideoInfo in_{};
  GstVideoInfo out_{};
};

// Lives as long as the process: a save may come at any time, and the converter's worker thread
// is best kept between saves.
FullConverter& SharedFullConverter() {
  static auto* converter = new FullConverter();
  return *converter;
}

void ZeroRowEnds(uint8_t* top, std::ptrdiff_t stride, size_t rowBytes, int height) {
  const size_t padding = static_cast<size_t>(stride) - rowBytes;
  if (padding == 0)
    return;
  for (int y = 0; y < height; ++y)
    std::memset(top + y * stride + static_cast<std::ptrdiff_t>(rowBytes), 0, padding);
}

}  // namespace

VideoFrame::VideoFrame() noexcept {
  gst_video_info_init(&info_);
}

VideoFrame::VideoFrame(GstBuffer* buffer, const GstVideoInfo& info) noexcept
    : buffer_(GstRef<GstBuffer>::Retain(buffer)), info_(info) {
  if (buffer_)
    serial_ = lastSerial.fetch_add(1, std::memory_order_relaxed) + 1;
}

VideoFrame VideoFrame::FromSample(GstSample* sample) noexcept {
  return SampleFormat().FrameOf(sample);
}

VideoFrame SampleFormat::FrameOf(GstSample* sample) noexcept {
  GstCaps* caps = sample ? gst_sample_get_caps(sample) : nullptr;
  GstBuffer* buffer = sample ? gst_sample_get_buffer(sample) : nullptr;
  if (!caps || !buffer)
    return {};
  // The reference held keeps the address from being reused by other caps.
  if (caps != caps_.get()) {
    caps_.reset();
    if (!gst_video_info_from_caps(&info_, caps))
      return {};
    caps_ = GstRef<GstCaps>::Retain(caps);
  }
  return VideoFrame(buffer, info_);
}

void VideoFrame::Reset() noexcept {
  buffer_.reset();
  gst_video_info_init(&info_);
  serial_ = 0;
}

VideoFrame VideoFrame::OwnCopy() const noexcept {
  VideoFrame copy;
  if (!buffer_)
    return copy;
  // Memory of a driver's or another custom allocator is copied into system memory; the video
  // meta, which says where the planes lie, comes along.
  copy.buffer_ = GstRef<GstBuffer>::Adopt(gst_buffer_copy_deep(buffer_.get()));
  if (!copy.buffer_)
    return {};
  copy.info_ = info_;
  copy.serial_ = serial_;
  return copy;
}

GstRef<GstCaps> ConvertibleVideoCaps() {
  std::string formats;
  for (GstVideoFormat format : ConvertibleFormats()) {
    if (!formats.empty())
      formats += ", ";
    formats += gst_video_format_to_string(format);
  }
  const std::string description = "video/x-raw, format=(string){ " + formats + " }";
  return GstRef<GstCaps>::Adopt(gst_caps_from_string(description.c_str()));
}

bool IsConvertibleFormat(GstVideoFormat format) noexcept {
  const auto& formats = ConvertibleFormats();
  return std::find(formats.begin(), formats.end(), format) != formats.end();
}

bool ConvertFrame(const VideoFrame& frame, int bitCount, uint8_t* top,
                  std::ptrdiff_t stride) noexcept {
  if (!frame || !top || (bitCount != 24 && bitCount != 32))
    return false;
  const GstVideoFormat format = bitCount == 24 ? GST_VIDEO_FORMAT_BGR : GST_VIDEO_FORMAT_BGRx;
  const int width = frame.Width();
  const int height = frame.Height();
  const size_t rowBytes = static_cast<size_t>(width) * static_cast<size_t>(bitCount / 8);
  if (width <= 0 || height <= 0 || stride < 0 || static_cast<size_t>(stride) < rowBytes)
    return false;

  GstVideoInfo info = frame.Info();
  GstVideoFrame source;
  if (!gst_video_frame_map(&source, &info, frame.Buffer(), GST_MAP_READ))
    return false;
  bool converted = false;
  if (GST_VIDEO_FRAME_FORMAT(&source) == format) {
    // What the grabber took as it came before: the rows, copied.
    const auto* data = static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&source, 0));
    const gint sourceStride = GST_VIDEO_FRAME_PLANE_STRIDE(&source, 0);
    for (int y = 0; y < height; ++y)
      std::memcpy(top + y * stride, data + static_cast<std::ptrdiff_t>(y) * sourceStride, rowBytes);
    converted = true;
  } else {
    try {
      converted = SharedFullConverter().Convert(source, format, top, stride);
    } catch (...) {
      converted = false;  // the converter's lock could not be taken
    }
  }
  gst_video_frame_unmap(&source);
  if (converted)
    ZeroRowEnds(top, stride, rowBytes, height);
  return converted;
}

}  // namespace platform
