// Frames as delivered, converted only when asked: against videoconvert, the converter that ran
// on every frame before, for formats beyond the test cameras' own.
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <QImage>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/media/FrameScaler.h"
#include "platform/media/GstRef.h"
#include "platform/media/VideoFrame.h"
#include "platform/picture/Dib.h"
#include "support/Videoconvert.h"

namespace {

using platform::GstRef;
using platform::VideoFrame;

// The first frame of colour bars (or of another test pattern) in `format`.
VideoFrame TestFrame(const char* format, int width, int height, const char* pattern = "smpte") {
  const std::string description = "videotestsrc num-buffers=1 pattern=" + std::string(pattern) +
                                  " ! video/x-raw,format=" + std::string(format) +
                                  ",width=" + std::to_string(width) +
                                  ",height=" + std::to_string(height) + " ! appsink name=sink";
  auto pipeline = GstRef<GstElement>::Adopt(gst_parse_launch(description.c_str(), nullptr));
  auto sink = GstRef<GstElement>::Adopt(gst_bin_get_by_name(GST_BIN(pipeline.get()), "sink"));
  gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
  auto sample = GstRef<GstSample>::Adopt(
      gst_app_sink_try_pull_sample(GST_APP_SINK(sink.get()), 10 * GST_SECOND));
  gst_element_set_state(pipeline.get(), GST_STATE_NULL);
  return VideoFrame::FromSample(sample.get());
}

TEST(VideoFrameTest, ConvertsEveryCameraLikeFormatAsVideoconvertDid) {
  const char* formats[] = {"YUY2", "UYVY", "YVYU", "NV12",  "NV21",      "NV16",     "I420",
                           "YV12", "Y42B", "Y444", "GRAY8", "GRAY16_LE", "RGB",      "BGR",
                           "BGRx", "RGBx", "xRGB", "RGB16", "v210",      "P010_10LE"};
  for (const char* format : formats) {
    for (int bits : {24, 32}) {
      SCOPED_TRACE(std::string(format) + " to " + std::to_string(bits) + " bits");
      const VideoFrame frame = TestFrame(format, 321, 241);
      ASSERT_TRUE(frame);
      EXPECT_TRUE(platform::IsConvertibleFormat(GST_VIDEO_INFO_FORMAT(&frame.Info())));
      const std::vector<uint8_t> expected =
          Videoconvert(frame, bits == 24 ? "BGR" : "BGRx", bits / 8);
      ASSERT_FALSE(expected.empty());
      std::vector<uint8_t> converted(expected.size(), 0xAA);
      ASSERT_TRUE(platform::ConvertFrame(frame, bits, converted.data(),
                                         static_cast<std::ptrdiff_t>(expected.size() / 241)));
      EXPECT_TRUE(converted == expected);
    }
  }
}

TEST(VideoFrameTest, ADibForFramesComputesItsPixelsOnceWhenAskedFor) {
  const VideoFrame frame = TestFrame("YUY2", 64, 48);
  BITMAPINFOHEADER header;
  header.biWidth = 64;
  header.biHeight = -48;
  header.biBitCount = 24;
  EXPECT_FALSE(Dib::CreateForFrame([&] {
    BITMAPINFOHEADER bottomUp = header;
    bottomUp.biHeight = 48;
    return bottomUp;
  }()));
  auto dib = Dib::CreateForFrame(header);
  ASSERT_TRUE(dib);
  EXPECT_TRUE(dib->ForFrames());
  EXPECT_EQ(dib->Frame(), nullptr);
  EXPECT_FALSE(dib->ComputeFramePixels());  // no frame, no pixels
  dib->AttachFrame(frame);
  ASSERT_NE(dib->Frame(), nullptr);
  EXPECT_EQ(dib->Frame()->Serial(), frame.Serial());
  EXPECT_EQ(dib->Bits(), nullptr);  // not before they are asked for
  ASSERT_TRUE(dib->ComputeFramePixels());
  const uint8_t* bits = static_cast<const Dib&>(*dib).Bits();
  ASSERT_NE(bits, nullptr);
  EXPECT_EQ(std::vector<uint8_t>(bits, bits + dib->ImageSize()), Videoconvert(frame, "BGR", 3));
  // Another frame of the size lands in the same memory; one of another size is refused.
  dib->AttachFrame(TestFrame("NV12", 64, 48));
  EXPECT_EQ(dib->Bits(), nullptr);
  ASSERT_TRUE(dib->ComputeFramePixels());
  EXPECT_EQ(dib->Bits(), bits);
  dib->AttachFrame(TestFrame("NV12", 32, 48));
  EXPECT_FALSE(dib->ComputeFramePixels());
}

TEST(VideoFrameTest, ScalerScalesOncePerFrameAndSize) {
  platform::FrameScaler scaler;
  const VideoFrame frame = TestFrame("YUY2", 320, 240);
  const QImage& first = scaler.Scale(frame, QSize(160, 120));
  ASSERT_FALSE(first.isNull());
  EXPECT_EQ(first.size(), QSize(160, 120));
  EXPECT_EQ(first.format(), QImage::Format_RGB32);
  const uchar* pixels = first.constBits();
  // The same frame again: nothing converted, the same memory.
  EXPECT_EQ(scaler.Scale(frame, QSize(160, 120)).constBits(), pixels);
  // The colour bars, top left white-ish, as the full conversion has them.
  const std::vector<uint8_t> full = Videoconvert(frame, "BGR", 3);
  const QRgb topLeft = first.pixel(0, 0);
  EXPECT_NEAR(qBlue(topLeft), full[0], 2);
  EXPECT_NEAR(qGreen(topLeft), full[1], 2);
  EXPECT_NEAR(qRed(topLeft), full[2], 2);
  EXPECT_TRUE(scaler.Scale(VideoFrame(), QSize(160, 120)).isNull());
  EXPECT_TRUE(scaler.Scale(frame, QSize()).isNull());
}

// The views' pictures against the full conversion, sampled at the nearest pixel (the floor of
// each picture pixel's centre): within 2 levels, or 12 where the colour changes beside the
// sample.
TEST(VideoFrameTest, ScaledPicturesStayWithTheFullConversion) {
  struct Case {
    const char* format;
    QSize frame;
    QSize picture;
    const char* pattern = "smpte";  // "colors": every colour, in gradients
  };
  const Case cases[] = {{"Y444", {1280, 720}, {507, 418}, "colors"},
                        {"NV12", {1280, 720}, {507, 418}, "colors"},
                        {"YUY2", {1280, 720}, {507, 418}},
                        {"UYVY", {1280, 720}, {276, 187}},
                        {"YVYU", {1280, 720}, {507, 418}},
                        {"YUY2", {1280, 720}, {2, 2}},
                        {"YUY2", {321, 241}, {507, 418}},
                        {"I420", {1920, 1080}, {507, 418}},
                        {"NV12", {1280, 720}, {507, 418}},
                        {"NV12", {321, 241}, {507, 418}},
                        {"Y42B", {1920, 1080}, {276, 187}},
                        {"GRAY8", {1280, 720}, {507, 418}},
                        {"BGR", {321, 241}, {276, 187}}};
  for (const Case& c : cases) {
    const int fw = c.frame.width();
    const int fh = c.frame.height();
    SCOPED_TRACE(std::string(c.format) + " " + c.pattern + " " + std::to_string(fw) + " to " +
                 std::to_string(c.picture.width()));
    const VideoFrame frame = TestFrame(c.format, fw, fh, c.pattern);
    // One thread: on two, videoconvert leaves out the vertical chroma interpolation of 4:2:0
    // frames at some sizes, which the views keep.
    const std::vector<uint8_t> full = Videoconvert(frame, "BGRx", 4, 1);
    ASSERT_FALSE(full.empty());
    platform::FrameScaler scaler;
    const QImage& picture = scaler.Scale(frame, c.picture);
    ASSERT_EQ(picture.size(), c.picture);
    auto at = [&](int x, int y, int channel) {
      const size_t pixel =
          static_cast<size_t>(std::clamp(y, 0, fh - 1)) * fw + std::clamp(x, 0, fw - 1);
      return int(full[pixel * 4 + channel]);
    };
    int worst = 0;
    int worstAtEdges = 0;
    QPoint worstAt;
    for (int y = 0; y < c.picture.height(); ++y) {
      const int sy = (2 * y + 1) * fh / (2 * c.picture.height());
      const auto* line = reinterpret_cast<const QRgb*>(picture.constScanLine(y));
      for (int x = 0; x < c.picture.width(); ++x) {
        const int sx = (2 * x + 1) * fw / (2 * c.picture.width());
        const int shown[] = {qBlue(line[x]), qGreen(line[x]), qRed(line[x])};
        bool edge = false;
        int off = 0;
        for (int ch = 0; ch < 3; ++ch) {
          off = std::max(off, std::abs(shown[ch] - at(sx, sy, ch)));
          for (int d = -3; d <= 3; ++d) {
            edge = edge || std::abs(at(sx + d, sy, ch) - at(sx, sy, ch)) > 2 ||
                   std::abs(at(sx, sy + d, ch) - at(sx, sy, ch)) > 2;
          }
        }
        if (!edge && off > worst)
          worstAt = QPoint(x, y);
        (edge ? worstAtEdges : worst) = std::max(edge ? worstAtEdges : worst, off);
      }
    }
    EXPECT_LE(worst, 2) << "at " << worstAt.x() << "," << worstAt.y();
    EXPECT_LE(worstAtEdges, 12);
  }
}

}  // namespace
