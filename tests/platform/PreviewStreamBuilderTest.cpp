// How the preview stream passes frames on from its source.
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <mutex>
#include <set>

#include "HarnessEventLoop.h"
#include "platform/media/GrabberElement.h"
#include "platform/media/Pipeline.h"
#include "platform/media/PreviewStreamBuilder.h"
#include "support/PipeWireSession.h"
#include "support/SoleCamera.h"

namespace {

// pipewiresrc's buffers lie in PipeWire's memory, gone once PipeWire takes the stream's buffers
// back; a frame the program holds that was one of them is read after that (the display's
// repaint crashed so).
TEST(PreviewStreamBuilderTest, FramesPipeWireLendsAreHeldAsCopies) {
  pwtest::Session session;
  STILLWICK_REQUIRE_PIPEWIRE(session);
  auto camera = session.PublishCamera({"Desk camera", 64, 48, 30, 1, "YUY2", {}});
  ASSERT_TRUE(camera);
  const auto source = BindSoleCamera();
  ASSERT_TRUE(source);
  auto pipeline = platform::NewPipeline("lent");
  platform::GrabberElement grabber;
  grabber.SetFormat(platform::GrabberFormat::BGR);
  grabber.SetBufferSamples(true);
  GstElement* sink = gst_element_factory_make("fakesink", nullptr);
  ASSERT_TRUE(platform::AddElement(pipeline.get(), source.get(), "Filter"));
  ASSERT_TRUE(platform::AddElement(pipeline.get(), grabber.Element(), "SampleGrabber"));
  ASSERT_TRUE(platform::AddElement(pipeline.get(), sink, "Sink"));
  ASSERT_TRUE(platform::RenderPreviewStream(pipeline.get(), source.get(), grabber.Element(), sink));

  struct Lent {
    std::mutex lock;
    std::set<GstBuffer*> buffers;
  } lent;
  gst_pad_add_probe(
      platform::StaticPad(source.get(), "src").get(), GST_PAD_PROBE_TYPE_BUFFER,
      [](GstPad*, GstPadProbeInfo* info, gpointer data) {
        auto& l = *static_cast<Lent*>(data);
        const std::lock_guard guard(l.lock);
        l.buffers.insert(GST_PAD_PROBE_INFO_BUFFER(info));
        return GST_PAD_PROBE_OK;
      },
      &lent, nullptr);
  platform::SetState(pipeline.get(), platform::ElementState::Playing);
  const bool held = harness::WaitFor([&] { return static_cast<bool>(grabber.HeldFrame()); });
  GstBuffer* heldBuffer = grabber.HeldFrame().Buffer();
  platform::StopElement(pipeline.get());
  ASSERT_TRUE(held);
  EXPECT_FALSE(lent.buffers.empty());
  EXPECT_EQ(lent.buffers.count(heldBuffer), 0u);
}

}  // namespace
