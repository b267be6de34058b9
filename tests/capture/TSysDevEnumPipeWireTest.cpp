// A camera that both PipeWire and the V4L2 provider offer, listed from the first enumeration of
// a process on. In an executable of its own: device providers are singletons of a process, and
// what the PipeWire provider hides stays hidden for the rest of it.
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestCam.h"
#include "capture/TSysDevEnum.h"
#include "platform/media/GstRef.h"
#include "support/PipeWireSession.h"

namespace {

using platform::GstRef;

// The V4L2 provider's stand-in: a type of its own derived from the test cameras' provider
// (a provider reports the factory its class was first made by), registered under the V4L2
// provider's name (its factory replaces the real one in this process's registry). It lists
// the test cameras, which the test cameras' own provider then no longer does.
void StandInForTheV4l2Provider() {
  auto own =
      GstRef<GstDeviceProviderFactory>::Adopt(gst_device_provider_factory_find("stillwickcameras"));
  ASSERT_TRUE(own);
  const GType parent = gst_device_provider_factory_get_device_provider_type(own.get());
  GTypeQuery sizes;
  g_type_query(parent, &sizes);
  const GType standIn = g_type_register_static_simple(
      parent, "StillwickV4l2StandIn", sizes.class_size,
      [](gpointer klass, gpointer) { GST_DEVICE_PROVIDER_CLASS(klass)->factory = nullptr; },
      sizes.instance_size, nullptr, GTypeFlags(0));
  ASSERT_TRUE(
      gst_device_provider_register(nullptr, "v4l2deviceprovider", GST_RANK_PRIMARY, standIn));
  gst_plugin_feature_set_rank(GST_PLUGIN_FEATURE(own.get()), GST_RANK_NONE);
}

std::string FactoryOf(GstElement* element) {
  return element ? GST_OBJECT_NAME(gst_element_get_factory(element)) : "";
}

TEST(TSysDevEnumPipeWireTest, CameraOfBothProvidersIsListedOnceFromTheFirstFillOn) {
  ASSERT_NO_FATAL_FAILURE(StandInForTheV4l2Provider());
  TestCameraSpec vivid;
  vivid.name = "vivid";
  TestCamSetCameras({vivid});
  pwtest::Session session;
  STILLWICK_REQUIRE_PIPEWIRE(session);
  // As WirePlumber publishes a V4L2 camera.
  auto camera = session.PublishCamera({"vivid (V4L2)",
                                       640,
                                       480,
                                       30,
                                       1,
                                       "YUY2",
                                       {"object.path=v4l2:/dev/video0", "device.api=v4l2",
                                        "api.v4l2.path=/dev/video0", "api.v4l2.cap.card=vivid"}});
  ASSERT_TRUE(camera);

  for (int fill = 1; fill <= 3; ++fill) {
    SCOPED_TRACE(fill);
    TSysDevEnum devices(CLSID_VideoInputDeviceCategory);
    ASSERT_EQ(devices.DeviceCount(), 1);
    EXPECT_EQ(devices.DeviceAt(0).FriendlyName, "vivid (V4L2)");
    // The name stored on a machine without PipeWire selects it.
    EXPECT_EQ(devices.IndexOfName("VIVID"), 0);
    const auto moniker = devices.MonikerAt(0);
    ASSERT_TRUE(moniker);
    EXPECT_EQ(FactoryOf(moniker->BindToObject().get()), "pipewiresrc");
  }
  TestCamSetCameras({});
}

}  // namespace
