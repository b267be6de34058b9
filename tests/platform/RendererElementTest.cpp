// The renderer element and its surface: every format it accepts is drawn with the right colours,
// and tearing it down while frames stream touches no destroyed widget.
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <QColor>
#include <QCoreApplication>
#include <QImage>
#include <QTest>
#include <QWidget>

#include <atomic>
#include <memory>
#include <string>

#include "HarnessEventLoop.h"
#include "platform/media/GstRef.h"
#include "platform/media/RendererElement.h"

using platform::GstRef;
using platform::RendererElement;
using platform::VideoRendererSurface;

namespace {

// A live test pattern of one colour in `format`, linked straight into the renderer (no
// converter: the renderer must take the format as it is).
GstRef<GstElement> StartPipeline(RendererElement& renderer, const std::string& pattern,
                                 const std::string& format) {
  const std::string description = "videotestsrc is-live=true pattern=" + pattern +
                                  " ! video/x-raw,format=" + format +
                                  ",width=64,height=48,framerate=30/1 ! capsfilter name=last";
  GError* error = nullptr;
  auto pipeline = GstRef<GstElement>::Adopt(gst_parse_launch(description.c_str(), &error));
  platform::GErrorPtr owned(error);
  EXPECT_TRUE(pipeline) << (error ? error->message : "");
  if (!pipeline)
    return pipeline;
  gst_bin_add(GST_BIN(pipeline.get()), renderer.Element());
  auto last = GstRef<GstElement>::Adopt(gst_bin_get_by_name(GST_BIN(pipeline.get()), "last"));
  EXPECT_TRUE(gst_element_link(last.get(), renderer.Element()));
  gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
  return pipeline;
}

VideoRendererSurface* SurfaceOf(RendererElement& renderer) {
  return qobject_cast<VideoRendererSurface*>(renderer.VideoWindow().Window());
}

// A pad probe on a streaming thread: counts the buffers that pass.
GstPadProbeReturn CountBuffer_Streaming(GstPad*, GstPadProbeInfo*, gpointer count) {
  ++*static_cast<std::atomic<int>*>(count);
  return GST_PAD_PROBE_OK;
}

bool WaitForFrame(RendererElement& renderer) {
  return QTest::qWaitFor([&] { return SurfaceOf(renderer) && SurfaceOf(renderer)->HasFrame(); },
                         5000);
}

}  // namespace

TEST(RendererElementTest, DrawsEveryAcceptedFormatInItsColours) {
  struct Case {
    const char* format;
    const char* pattern;
    QColor expected;
  };
  // Blue catches a red/blue swap in the byte order of a format.
  const Case cases[] = {
      {"BGR", "blue", QColor(0, 0, 255)},
      {"BGRx", "blue", QColor(0, 0, 255)},
      {"RGBx", "blue", QColor(0, 0, 255)},
      {"RGB", "blue", QColor(0, 0, 255)},
      // The test source writes white grey as studio-range luma.
      {"GRAY8", "white", QColor(235, 235, 235)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    RendererElement renderer;
    renderer.VideoWindow().SetWindowPosition(0, 0, 32, 24);
    GstRef<GstElement> pipeline = StartPipeline(renderer, c.pattern, c.format);
    ASSERT_TRUE(pipeline);
    ASSERT_TRUE(WaitForFrame(renderer));
    // Shown by its first frame, scaled from 64x48 down to the window.
    EXPECT_TRUE(SurfaceOf(renderer)->isVisible());
    const QImage image = SurfaceOf(renderer)->grab().toImage();
    for (const QPoint at : {QPoint(0, 0), QPoint(16, 12), QPoint(31, 23)}) {
      const QColor seen = image.pixelColor(at);
      EXPECT_NEAR(seen.red(), c.expected.red(), 8) << at.x() << "," << at.y();
      EXPECT_NEAR(seen.green(), c.expected.green(), 8) << at.x() << "," << at.y();
      EXPECT_NEAR(seen.blue(), c.expected.blue(), 8) << at.x() << "," << at.y();
    }
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
  }
}

TEST(RendererElementTest, StaysHiddenWhenHiddenBeforeTheFirstFrame) {
  RendererElement renderer;
  renderer.VideoWindow().PutVisible(false);
  GstRef<GstElement> pipeline = StartPipeline(renderer, "red", "BGR");
  ASSERT_TRUE(WaitForFrame(renderer));
  EXPECT_FALSE(SurfaceOf(renderer)->isVisible());
  renderer.VideoWindow().PutVisible(true);
  EXPECT_TRUE(SurfaceOf(renderer)->isVisible());
  gst_element_set_state(pipeline.get(), GST_STATE_NULL);
}

TEST(RendererElementTest, TeardownWhileStreamingTouchesNoDestroyedWidget) {
  // The owner window goes first while frames keep coming; then the element is destroyed while
  // its pipeline still plays, and the pipeline is stopped after it.
  auto owner = std::make_unique<QWidget>();
  owner->resize(80, 60);
  owner->show();
  std::atomic<int> arrived{0};  // counted until the pipeline stops
  GstRef<GstElement> pipeline;
  {
    RendererElement renderer;
    renderer.VideoWindow().PutOwner(owner.get());
    pipeline = StartPipeline(renderer, "red", "BGR");
    ASSERT_TRUE(WaitForFrame(renderer));
    owner.reset();
    EXPECT_EQ(renderer.VideoWindow().Window(), nullptr);
    // Frames still arrive and are handed over to a surface that no longer exists.
    auto input = GstRef<GstPad>::Adopt(gst_element_get_static_pad(renderer.Element(), "sink"));
    gst_pad_add_probe(input.get(), GST_PAD_PROBE_TYPE_BUFFER, CountBuffer_Streaming, &arrived,
                      nullptr);
    ASSERT_TRUE(harness::WaitFor([&] { return arrived >= 3; }));
    ASSERT_TRUE(harness::WaitForPostedEvents());
    renderer.VideoWindow().PutCaption("gone");  // no effect, no crash
    renderer.VideoWindow().SetWindowPosition(0, 0, 10, 10);
  }
  gst_element_set_state(pipeline.get(), GST_STATE_NULL);
  QCoreApplication::processEvents();  // a wake-up still queued must find nothing to do
}
