// Cameras published through a private PipeWire session, seen by the device listing: what the
// later PipeWire tests stand on (a node listed under its description and made as pipewiresrc;
// an unplug that removes it; a frozen camera that stays listed, as a V4L2 camera unplugged
// behind PipeWire 0.3.65 does).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HarnessEventLoop.h"
#include "platform/media/DeviceMonitor.h"
#include "platform/media/GstRef.h"
#include "support/PipeWireSession.h"

namespace {

std::vector<std::string> Listed() {
  std::vector<std::string> names;
  for (const auto& record : platform::EnumerateDevices("Video/Source"))
    names.push_back(record.displayName);
  return names;
}

std::string FactoryOf(const platform::DeviceRecord& record) {
  auto element =
      platform::GstRef<GstElement>::Adopt(gst_device_create_element(record.device.get(), nullptr));
  return element ? GST_OBJECT_NAME(gst_element_get_factory(element.get())) : "";
}

TEST(DeviceMonitorTest, PublishedCameraIsListedUntilUnplugged) {
  pwtest::Session session;
  STILLWICK_REQUIRE_PIPEWIRE(session);
  auto camera = session.PublishCamera({"Desk camera", 320, 240, 15, 1, "YUY2", {}});
  ASSERT_TRUE(camera);

  const auto records = platform::EnumerateDevices("Video/Source");
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].displayName, "Desk camera");
  EXPECT_EQ(FactoryOf(records[0]), "pipewiresrc");
  EXPECT_FALSE(platform::DeviceProperty(records[0].device.get(), "object.serial").empty());

  // The started provider hears of the node's end from the daemon, a moment later.
  camera->Unplug();
  EXPECT_TRUE(harness::WaitFor([] { return Listed().empty(); }));
}

TEST(DeviceMonitorTest, FrozenCameraStaysListed) {
  pwtest::Session session;
  STILLWICK_REQUIRE_PIPEWIRE(session);
  auto camera = session.PublishCamera({"Microscope", 640, 480, 2, 1, "YUY2", {}});
  ASSERT_TRUE(camera);
  camera->Freeze();
  EXPECT_EQ(Listed(), std::vector<std::string>{"Microscope"});
  EXPECT_TRUE(session.Lists("Microscope"));
}

}  // namespace
