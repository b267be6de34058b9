#include "platform/media/FrameScaler.h"

#include <gst/video/video.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/media/VideoFrame.h"
#include "platform/media/YuvToRgb.h"

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

// Frames whose every component is one byte at a fixed place (the raw formats of cameras and
// of the MJPEG decoder, 8-bit RGB and grey) are sampled before they are converted: for each
// picture pixel the frame pixel the scaling converter would pick (the floor of the centre's
// position, so a centre on an edge takes the right or lower pixel), with the chroma the full
// conversion gives it, gathered into a picture-sized frame with no subsampling. Its conversion
// then costs the picture's pixels, not the frame's, and its colours are the full conversion's.
// Chroma subsampled more than by two, and interlaced frames, go through the scaling converter.
bool IsGatherable(const GstVideoInfo& info) {
  const GstVideoFormatInfo* format = info.finfo;
  if (!format || GST_VIDEO_INFO_IS_INTERLACED(&info) ||
      (GST_VIDEO_FORMAT_INFO_FLAGS(format) &
       (GST_VIDEO_FORMAT_FLAG_PALETTE | GST_VIDEO_FORMAT_FLAG_COMPLEX |
        GST_VIDEO_FORMAT_FLAG_TILED)) != 0) {
    return false;
  }
  const guint components = GST_VIDEO_FORMAT_INFO_N_COMPONENTS(format);
  if (components == 0 || components > 4)
    return false;
  for (guint c = 0; c < components; ++c) {
    if (GST_VIDEO_FORMAT_INFO_DEPTH(format, c) != 8 ||
        GST_VIDEO_FORMAT_INFO_SHIFT(format, c) != 0 ||
        GST_VIDEO_FORMAT_INFO_PSTRIDE(format, c) <= 0 ||
        GST_VIDEO_FORMAT_INFO_W_SUB(format, c) > 1 || GST_VIDEO_FORMAT_INFO_H_SUB(format, c) > 1) {
      return false;
    }
  }
  return true;
}

// The frame position nearest each of `count` picture positions across `extent`.
void NearestPositions(int extent, int count, std::vector<int>& positions) {
  positions.resize(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    const long long centre = (2LL * i + 1) * extent / (2LL * count);
    positions[static_cast<size_t>(i)] = static_cast<int>(std::min<long long>(centre, extent - 1));
  }
}

// Where a picture pixel's chroma comes from along one axis: sample `near` and its neighbour
// `far`, the same sample where the pixel takes one alone. Cosited samples are the even pixels'
// own and are averaged for odd ones; centred samples are weighed 3:1 with the neighbour on the
// pixel's side (TapWeight). `interpolated` false: the sample the pixel lies in.
struct ChromaTap {
  int near = 0;
  int far = 0;
};

ChromaTap TapAt(int position, int extent, int sub, bool cosited, bool interpolated) {
  const int sample = position >> sub;
  if (sub == 0 || !interpolated)
    return {sample, sample};
  const int last = (extent - 1) >> sub;
  const bool odd = (position & 1) != 0;
  if (odd && sample < last)
    return {sample, sample + 1};
  if (!odd && !cosited && sample > 0)
    return {sample, sample - 1};
  return {sample, sample};
}

// The near sample's share of a blend, in quarters; a tap of one sample reads it as both, so
// the share does not change it.
int TapWeight(int sub, bool cosited, bool interpolated) {
  if (sub == 0 || !interpolated)
    return 4;
  return cosited ? 2 : 3;
}

// The row loops of the gathering, apart so that nothing they write can alias what they read.
void CopyRow(const uint8_t* __restrict row, const int* __restrict columns, int width,
             uint8_t* __restrict to, int step) {
  if (step == 1) {  // rows of one component, the common case: a loop of its own
    for (int x = 0; x < width; ++x)
      to[x] = row[columns[x]];
    return;
  }
  for (int x = 0; x < width; ++x)
    to[static_cast<ptrdiff_t>(x) * step] = row[columns[x]];
}

// Samples blended `weight` quarters to `near` along the row and `rowWeight` quarters to `row`
// against `farRow`.
void BlendRow(const uint8_t* __restrict row, const uint8_t* __restrict farRow, int rowWeight,
              const int* __restrict near, const int* __restrict far, int weight, int width,
              uint8_t* __restrict to, int step) {
  const int otherWeight = 4 - weight;
  const int otherRow = 4 - rowWeight;
  for (int x = 0; x < width; ++x) {
    const int onNear = weight * row[near[x]] + otherWeight * row[far[x]];
    const int onFar = weight * farRow[near[x]] + otherWeight * farRow[far[x]];
    to[static_cast<ptrdiff_t>(x) * step] =
        static_cast<uint8_t>((rowWeight * onNear + otherRow * onFar + 8) >> 4);
  }
}

// Both chroma components of a row at once, when they lie side by side in one plane (packed
// 4:2:2, semi-planar 4:2:0): each sample pair in the two 16-bit halves of one word, blended as
// BlendRow blends one.
void ChromaPairRow(const uint8_t* __restrict row, const uint8_t* __restrict farRow, int rowWeight,
                   const int* __restrict near, const int* __restrict far, int weight, int toRed,
                   int width, uint8_t* __restrict blue, uint8_t* __restrict red) {
  auto pair = [toRed](const uint8_t* __restrict samples, int at) {
    return static_cast<uint32_t>(samples[at]) | static_cast<uint32_t>(samples[at + toRed]) << 16;
  };
  const auto nearWeight = static_cast<uint32_t>(weight);
  const auto farWeight = static_cast<uint32_t>(4 - weight);
  const auto nearRow = static_cast<uint32_t>(rowWeight);
  const auto otherRow = static_cast<uint32_t>(4 - rowWeight);
  for (int x = 0; x < width; ++x) {
    const uint32_t onNear = nearWeight * pair(row, near[x]) + farWeight * pair(row, far[x]);
    const uint32_t onFar = nearWeight * pair(farRow, near[x]) + farWeight * pair(farRow, far[x]);
    const uint32_t both = (nearRow * onNear + otherRow * onFar + 0x00080008u) >> 4;
    blue[x] = static_cast<uint8_t>(both);
    red[x] = static_cast<uint8_t>(both >> 16);
  }
}

// Packed 4:2:2 (two pixels in four bytes, one U and one V between them), read a macro pixel
// at a time: the pixel's own and the one its chroma is blended with, `weight` quarters to its
// own (a column with one sample reads its own twice). Little-endian words: the chroma bytes
// are the low bytes of the two 16-bit halves after `chromaShift`.
void PackedRow(const uint8_t* __restrict row, const int* __restrict near, const int* __restrict far,
               const uint8_t* __restrict lumaShift, int weight, int chromaShift, bool blueHigh,
               int width, uint8_t* __restrict luma, uint8_t* __restrict blue,
               uint8_t* __restrict red) {
  const auto nearWeight = static_cast<uint32_t>(weight);
  const auto farWeight = static_cast<uint32_t>(4 - weight);
  uint8_t* __restrict low = blueHigh ? red : blue;
  uint8_t* __restrict high = blueHigh ? blue : red;
  for (int x = 0; x < width; ++x) {
    uint32_t own;
    uint32_t other;
    std::memcpy(&own, row + near[x], sizeof own);
    std::memcpy(&other, row + far[x], sizeof other);
    luma[x] = static_cast<uint8_t>(own >> lumaShift[x]);
    const uint32_t both = (nearWeight * ((own >> chromaShift) & 0x00ff00ffu) +
                           farWeight * ((other >> chromaShift) & 0x00ff00ffu) + 0x00020002u) >>
                          2;
    low[x] = static_cast<uint8_t>(both);
    high[x] = static_cast<uint8_t>(both >> 16);
  }
}

}  // namespace

struct FrameScaler::Impl {
  // One component of the frame and where each of the picture's samples of it is read.
  struct Component {
    int plane = 0;
    std::vector<int> near, far;   // byte offsets in a row, per picture column
    std::vector<ChromaTap> rows;  // rows of samples, per picture row
    int weight = 4;               // of the near sample along a row, in quarters
    int rowWeight = 4;            // of the near row
  };

  enum class Path {
    None,      // not prepared
    Scaling,   // GStreamer's scaling converter
    Yuv,       // gathered and converted here
    Gathered,  // gathered into `small`, converted unscaled by GStreamer
  };

  ~Impl() { FreeConverter(); }

  void FreeConverter() {
    if (converter)
      gst_video_converter_free(converter);
    converter = nullptr;
  }

  // How frames of `source` become pictures of `size`; the way held when it fits.
  bool Prepare(const GstVideoInfo& source, QSize size) {
    if (path != Path::None && gst_video_info_is_equal(&source, &in) && size == converterSize)
      return true;
    FreeConverter();
    path = Path::None;
    in = source;
    converterSize = size;
    if (!IsGatherable(in)) {
      gst_video_info_set_interlaced_format(&out, kRgb32, GST_VIDEO_INFO_INTERLACE_MODE(&in),
                                           static_cast<guint>(size.width()),
                                           static_cast<guint>(size.height()));
      out.fps_n = in.fps_n;
      out.fps_d = in.fps_d;
      out.views = in.views;
      converter = gst_video_converter_new(&in, &out, ScalingOptions(in.finfo->format));
      path = converter ? Path::Scaling : Path::None;
      return converter != nullptr;
    }
    PlanGather(size);
    if ((yuv = YuvToRgb::For(in))) {
      for (std::vector<uint8_t>& row : yuvRows)
        row.assign(static_cast<size_t>(size.width()), 0);
      PlanChromaPair();
      path = Path::Yuv;
      return true;
    }
    // Other formats (RGB, grey) are gathered into a picture-sized frame of their own format
    // and converted unscaled.
    gst_video_info_set_format(&small, GST_VIDEO_INFO_FORMAT(&in), static_cast<guint>(size.width()),
                              static_cast<guint>(size.height()));
    small.colorimetry = in.colorimetry;
    small.fps_n = in.fps_n;
    small.fps_d = in.fps_d;
    smallBytes.resize(GST_VIDEO_INFO_SIZE(&small));
    gst_video_info_set_format(&out, kRgb32, static_cast<guint>(size.width()),
                              static_cast<guint>(size.height()));
    out.fps_n = in.fps_n;
    out.fps_d = in.fps_d;
    converter = gst_video_converter_new(&small, &out, ScalingOptions(in.finfo->format));
    path = converter ? Path::Gathered : Path::None;
    return converter != nullptr;
  }

  // The frame byte offsets each picture column reads and each row's taps, per component.
  void PlanGather(QSize size) {
    std::vector<int> columns, rows;
    NearestPositions(GST_VIDEO_INFO_WIDTH(&in), size.width(), columns);
    NearestPositions(GST_VIDEO_INFO_HEIGHT(&in), size.height(), rows);
    const GstVideoFormatInfo* from = in.finfo;
    const bool cositedH = (in.chroma_site & GST_VIDEO_CHROMA_SITE_H_COSITED) != 0;
    const bool cositedV = (in.chroma_site & GST_VIDEO_CHROMA_SITE_V_COSITED) != 0;
    const bool interpolated = FullConversionInterpolatesChroma(GST_VIDEO_INFO_FORMAT(&in));
    components.clear();
    for (guint c = 0; c < GST_VIDEO_FORMAT_INFO_N_COMPONENTS(from); ++c) {
      Component k;
      k.plane = GST_VIDEO_FORMAT_INFO_PLANE(from, c);
      const int pstride = GST_VIDEO_FORMAT_INFO_PSTRIDE(from, c);
      const int poffset = GST_VIDEO_FORMAT_INFO_POFFSET(from, c);
      const int wsub = GST_VIDEO_FORMAT_INFO_W_SUB(from, c);
      const int hsub = GST_VIDEO_FORMAT_INFO_H_SUB(from, c);
      for (int column : columns) {
        const ChromaTap tap =
            TapAt(column, GST_VIDEO_INFO_WIDTH(&in), wsub, cositedH, interpolated);
        k.near.push_back(tap.near * pstride + poffset);
        k.far.push_back(tap.far * pstride + poffset);
      }
      for (int row : rows)
        k.rows.push_back(TapAt(row, GST_VIDEO_INFO_HEIGHT(&in), hsub, cositedV, interpolated));
      k.weight = TapWeight(wsub, cositedH, interpolated);
      k.rowWeight = TapWeight(hsub, cositedV, interpolated);
      components.push_back(std::move(k));
    }
  }

  // Whether U and V lie side by side in one plane, a fixed distance apart in every column and
  // read from the same rows: then they are gathered together.
  void PlanChromaPair() {
    chromaPaired = false;
    const Component& blue = components[1];
    const Component& red = components[2];
    if (blue.plane != red.plane || blue.weight != red.weight || blue.rowWeight != red.rowWeight)
      return;
    const int toRed = red.near[0] - blue.near[0];
    for (size_t x = 0; x < blue.near.size(); ++x) {
      if (red.near[x] - blue.near[x] != toRed || red.far[x] - blue.far[x] != toRed)
        return;
    }
    for (size_t y = 0; y < blue.rows.size(); ++y) {
      if (blue.rows[y].near != red.rows[y].near || blue.rows[y].far != red.rows[y].far)
        return;
    }
    chromaPaired = true;
    chromaPairToRed = toRed;
    PlanPacked();
  }

  // Packed 4:2:2 with U and V a pair: the macro pixels each column reads.
  void PlanPacked() {
    packed = false;
    const Component& luma = components[0];
    const Component& blue = components[1];
    const GstVideoFormatInfo* format = in.finfo;
    if (G_BYTE_ORDER != G_LITTLE_ENDIAN || GST_VIDEO_FORMAT_INFO_N_PLANES(format) != 1 ||
        GST_VIDEO_FORMAT_INFO_PSTRIDE(format, 0) != 2 ||
        GST_VIDEO_FORMAT_INFO_PSTRIDE(format, 1) != 4 ||
        GST_VIDEO_FORMAT_INFO_W_SUB(format, 1) != 1 ||
        GST_VIDEO_FORMAT_INFO_H_SUB(format, 1) != 0 || std::abs(chromaPairToRed) != 2) {
      return;
    }
    const int bluePlace = GST_VIDEO_FORMAT_INFO_POFFSET(format, 1);
    packedChromaShift = 8 * (bluePlace & 1);
    packedBlueHigh = bluePlace >= 2;
    const size_t width = blue.near.size();
    macroNear.resize(width);
    macroFar.resize(width);
    lumaShift.resize(width);
    for (size_t x = 0; x < width; ++x) {
      macroNear[x] = blue.near[x] - bluePlace;
      macroFar[x] = blue.far[x] - bluePlace;
      lumaShift[x] = static_cast<uint8_t>(8 * (luma.near[x] - macroNear[x]));
    }
    packed = true;
  }

  // The samples of component `k` for picture row `y`, every `step` bytes from `to`.
  void GatherRow(const GstVideoFrame& source, const Component& k, int y, uint8_t* to,
                 int step) const {
    const int width = converterSize.width();
    const auto* base = static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&source, k.plane));
    const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&source, k.plane);
    const ChromaTap& rowTap = k.rows[static_cast<size_t>(y)];
    const uint8_t* near = base + static_cast<ptrdiff_t>(rowTap.near) * stride;
    if (k.weight == 4 && rowTap.far == rowTap.near) {
      CopyRow(near, k.near.data(), width, to, step);
      return;
    }
    BlendRow(near, base + static_cast<ptrdiff_t>(rowTap.far) * stride, k.rowWeight, k.near.data(),
             k.far.data(), k.weight, width, to, step);
  }

  // YUV: each picture row gathered into three rows of samples and converted into the image.
  void ConvertYuv(const GstVideoFrame& source) {
    const Component& blue = components[1];
    const auto* chroma =
        static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&source, blue.plane));
    const int chromaStride = GST_VIDEO_FRAME_PLANE_STRIDE(&source, blue.plane);
    for (int y = 0; y < converterSize.height(); ++y) {
      const ChromaTap& tap = blue.rows[static_cast<size_t>(y)];
      const uint8_t* row = chroma + static_cast<ptrdiff_t>(tap.near) * chromaStride;
      if (packed) {
        PackedRow(row, macroNear.data(), macroFar.data(), lumaShift.data(), blue.weight,
                  packedChromaShift, packedBlueHigh, converterSize.width(), yuvRows[0].data(),
                  yuvRows[1].data(), yuvRows[2].data());
      } else if (chromaPaired) {
        GatherRow(source, components[0], y, yuvRows[0].data(), 1);
        ChromaPairRow(row, chroma + static_cast<ptrdiff_t>(tap.far) * chromaStride, blue.rowWeight,
                      blue.near.data(), blue.far.data(), blue.weight, chromaPairToRed,
                      converterSize.width(), yuvRows[1].data(), yuvRows[2].data());
      } else {
        for (size_t c = 0; c < yuvRows.size(); ++c)
          GatherRow(source, components[c], y, yuvRows[c].data(), 1);
      }
      yuv->Row(yuvRows[0].data(), yuvRows[1].data(), yuvRows[2].data(), converterSize.width(),
               reinterpret_cast<uint32_t*>(image.scanLine(y)));
    }
  }

  // Other formats: gathered into `smallBytes` in the frame's own layout.
  void Gather(const GstVideoFrame& source) {
    const GstVideoFormatInfo* to = small.finfo;
    for (size_t c = 0; c < components.size(); ++c) {
      const auto component = static_cast<guint>(c);
      const int plane = GST_VIDEO_FORMAT_INFO_PLANE(to, component);
      uint8_t* base = smallBytes.data() + GST_VIDEO_INFO_PLANE_OFFSET(&small, plane) +
                      GST_VIDEO_FORMAT_INFO_POFFSET(to, component);
      for (int y = 0; y < converterSize.height(); ++y) {
        GatherRow(source, components[c], y,
                  base + static_cast<ptrdiff_t>(y) * GST_VIDEO_INFO_PLANE_STRIDE(&small, plane),
                  GST_VIDEO_FORMAT_INFO_PSTRIDE(to, component));
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
    if (path == Path::Yuv) {
      ConvertYuv(source);
      gst_video_frame_unmap(&source);
      return true;
    }
    GstVideoFrame dest{};
    dest.info = out;
    dest.info.stride[0] = static_cast<gint>(image.bytesPerLine());
    dest.data[0] = image.bits();
    if (path == Path::Gathered) {
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

  Path path = Path::None;
  GstVideoConverter* converter = nullptr;
  std::optional<YuvToRgb> yuv;
  bool chromaPaired = false;  // U and V gathered together
  int chromaPairToRed = 0;    // from U's byte to V's
  bool packed = false;        // packed 4:2:2, read a macro pixel at a time
  int packedChromaShift = 0;
  bool packedBlueHigh = false;
  std::vector<int> macroNear, macroFar;         // byte offsets of the macro pixels, per column
  std::vector<uint8_t> lumaShift;               // of the pixel's luma in its macro pixel
  std::array<std::vector<uint8_t>, 3> yuvRows;  // Y, U and V of one picture row
  GstVideoInfo small{};
  std::vector<uint8_t> smallBytes;
  std::vector<Component> components;
  GstVideoInfo in{};
  GstVideoInfo out{};  // what GStreamer's converter makes, but for the image's stride
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
