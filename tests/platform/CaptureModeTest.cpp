// Which of the modes a device offers the capture graph asks for.
#include <gst/gst.h>
#include <gtest/gtest.h>

#include "TestCam.h"
#include "platform/media/CaptureMode.h"
#include "platform/media/GstRef.h"
#include "platform/media/Pipeline.h"
#include "platform/media/PreviewStreamBuilder.h"
#include "support/SoleCamera.h"

namespace {

using platform::GstRef;

GstRef<GstCaps> Caps(const char* text) {
  return GstRef<GstCaps>::Adopt(gst_caps_from_string(text));
}

TEST(CaptureModeTest, LargestSizeThenHighestRateThenRawBeforeCompressed) {
  struct Case {
    const char* what;
    const char* offered;
    const char* chosen;  // nullptr: no mode
  };
  const Case cases[] = {
      {"a USB webcam's six modes: full size only at full rate through MJPEG",
       "video/x-raw, format=YUY2, width=640, height=480, framerate=30/1; "
       "video/x-raw, format=YUY2, width=1280, height=720, framerate=10/1; "
       "video/x-raw, format=YUY2, width=1920, height=1080, framerate=5/1; "
       "image/jpeg, width=640, height=480, framerate=30/1; "
       "image/jpeg, width=1280, height=720, framerate=30/1; "
       "image/jpeg, width=1920, height=1080, framerate=30/1",
       "image/jpeg, width=1920, height=1080, framerate=30/1"},
      {"equal size and rate",
       "image/jpeg, width=1280, height=720, framerate=30/1; "
       "video/x-raw, format=YUY2, width=1280, height=720, framerate=30/1",
       "video/x-raw, format=YUY2, width=1280, height=720, framerate=30/1"},
      {"rate lists as v4l2src gives them",
       "video/x-raw, format=YUY2, width=640, height=480, framerate={ 30/1, 15/1 }; "
       "video/x-raw, format=YUY2, width=2592, height=1944, framerate={ 2/1, 1/1 }",
       "video/x-raw, format=YUY2, width=2592, height=1944, framerate=2/1"},
      {"a rate range counts by its top",
       "video/x-raw, format=YUY2, width=1920, height=1080, framerate=30/1; "
       "video/x-raw, format=NV12, width=1920, height=1080, framerate=[ 1/1, 60/1 ]",
       "video/x-raw, format=NV12, width=1920, height=1080, framerate=60/1"},
      {"a compressed mode nothing decodes is passed over",
       "video/x-nosuchcodec, width=3840, height=2160, framerate=30/1; "
       "video/x-raw, format=GRAY8, width=1280, height=960, framerate=30/1",
       "video/x-raw, format=GRAY8, width=1280, height=960, framerate=30/1"},
      {"an unopened device's template names no mode",
       "video/x-raw, format={ YUY2, NV12 }, width=[ 1, 32768 ], height=[ 1, 32768 ]; "
       "image/jpeg",
       nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto chosen = platform::ChooseCaptureMode(Caps(c.offered).get());
    if (!c.chosen) {
      EXPECT_FALSE(chosen);
      continue;
    }
    ASSERT_TRUE(chosen);
    platform::GCharPtr text(gst_caps_to_string(chosen.get()));
    EXPECT_TRUE(gst_caps_is_equal(chosen.get(), Caps(c.chosen).get())) << text.get();
  }
}

TEST(CaptureModeTest, AChosenModeIsKeptWhileTheDeviceOffersIt) {
  const char* webcam =
      "video/x-raw, format=YUY2, width=640, height=480, framerate={ 30/1, 15/2 }; "
      "image/jpeg, width=1920, height=1080, framerate=30/1; "
      "video/x-nosuchcodec, width=3840, height=2160, framerate=30/1";
  const std::vector<platform::CaptureModeEntry> listed =
      platform::ListCaptureModes(Caps(webcam).get());
  ASSERT_EQ(listed.size(), 3u);  // what nothing decodes is no mode
  EXPECT_EQ(listed[1].key, "YUY2 640x480@15/2");
  EXPECT_EQ(listed[1].label, "YUY2 640x480, 7.5 fps");
  EXPECT_EQ(listed[2].key, "MJPEG 1920x1080@30/1");

  const std::pair<const char*, const char*> cases[] = {
      {"YUY2 640x480@15/2", "video/x-raw, format=YUY2, width=640, height=480, framerate=15/2"},
      {"", "image/jpeg, width=1920, height=1080, framerate=30/1"},
      {"YUY2 1280x720@30/1", "image/jpeg, width=1920, height=1080, framerate=30/1"},
      {"video/x-nosuchcodec 3840x2160@30/1", "image/jpeg, width=1920, height=1080, framerate=30/1"},
  };
  for (const auto& [wanted, chosen] : cases) {
    const auto mode = platform::ChooseCaptureMode(Caps(webcam).get(), wanted);
    ASSERT_TRUE(mode) << wanted;
    EXPECT_TRUE(gst_caps_is_equal(mode.get(), Caps(chosen).get())) << wanted;
  }
}

// An element that offers anything until it streams (pipewiresrc) is held to its device's modes.
TEST(CaptureModeTest, SourceWithoutModesIsHeldToTheLargestOfItsDevice) {
  TestCameraSpec webcam;
  webcam.modes = TestCamProfileModes("usb-webcam");
  webcam.modesHidden = true;
  TestCamSetCameras({webcam});
  const auto source = BindSoleCamera();
  ASSERT_TRUE(source);
  auto pipeline = platform::NewPipeline("modes");
  GstElement* sink = gst_element_factory_make("fakesink", nullptr);
  ASSERT_TRUE(platform::AddElement(pipeline.get(), source.get(), "Filter"));
  ASSERT_TRUE(platform::AddElement(pipeline.get(), sink, "Sink"));
  ASSERT_TRUE(platform::RenderPreviewStream(pipeline.get(), source.get(), nullptr, sink));

  auto peer =
      GstRef<GstPad>::Adopt(gst_pad_get_peer(platform::StaticPad(source.get(), "src").get()));
  ASSERT_TRUE(peer);
  GstCaps* held = nullptr;
  g_object_get(GST_PAD_PARENT(peer.get()), "caps", &held, nullptr);
  const auto caps = GstRef<GstCaps>::Adopt(held);
  ASSERT_TRUE(caps);
  EXPECT_TRUE(gst_caps_is_equal(caps.get(),
                                Caps("image/jpeg, width=1920, height=1080, framerate=30/1").get()));
  platform::StopElement(pipeline.get());
  TestCamSetCameras({});
}

}  // namespace
