#include "capture/TSysDevEnum.h"

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "HarnessEventLoop.h"
#include "TestCam.h"
#include "platform/media/DeviceMonitor.h"
#include "platform/media/Moniker.h"

using platform::Moniker;

namespace {

std::vector<std::string> Names(const TSysDevEnum& devices) {
  std::vector<std::string> names;
  names.reserve(devices.DeviceCount());
  for (int i = 0; i < devices.DeviceCount(); ++i)
    names.push_back(devices.DeviceAt(i).FriendlyName);
  return names;
}

std::string StringProperty(GstElement* element, const char* name) {
  gchar* value = nullptr;
  g_object_get(element, name, &value, nullptr);
  platform::GCharPtr owned(value);
  return value ? value : "";
}

int IntProperty(GstElement* element, const char* name) {
  int value = 0;
  g_object_get(element, name, &value, nullptr);
  return value;
}

std::string FactoryName(GstElement* element) {
  return gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(gst_element_get_factory(element)));
}

class TSysDevEnumTest : public ::testing::Test {
 protected:
  void TearDown() override { TestCamSetCameras({}); }
};

TEST_F(TSysDevEnumTest, ListsOnlyTheTestCamerasInTheirOrder) {
  TestCamSetCameras({{.name = "Same", .serial = "s1"},
                     {.name = "Same", .serial = "s2"},
                     {.name = "Other", .serial = "s3"}});
  const auto records = platform::EnumerateDevices(CLSID_VideoInputDeviceCategory);
  ASSERT_EQ(records.size(), 3u);
  for (const auto& record : records) {
    EXPECT_EQ(platform::DeviceProperty(record.device.get(), "device.api"), "stillwicktestcam");
  }

  TSysDevEnum devices(CLSID_VideoInputDeviceCategory);
  EXPECT_EQ(Names(devices), (std::vector<std::string>{"Same", "Same", "Other"}));
  // Index 1 is the second namesake.
  const auto moniker = devices.MonikerAt(1);
  ASSERT_TRUE(moniker);
  const auto element = moniker->BindToObject();
  ASSERT_TRUE(element);
  EXPECT_EQ(StringProperty(element.get(), "serial"), "s2");

  EXPECT_EQ(TSysDevEnum("No/Such/Class").DeviceCount(), 0);
  TestCamSetCameras({});
  EXPECT_EQ(TSysDevEnum(CLSID_VideoInputDeviceCategory).DeviceCount(), 0);
}

TEST_F(TSysDevEnumTest, LongNamesAreCutOnACharacterBoundary) {
  std::string han;
  for (int i = 0; i < 100; ++i)
    han += "中";  // 3 bytes each
  struct Case {
    std::string text;
    size_t limit;
    size_t expectedBytes;
  } cases[] = {
      {std::string(300, 'x'), 255, 255},
      {std::string(255, 'x'), 255, 255},
      {"a" + han, 255, 253},   // byte 255 falls inside a character that starts at 253
      {"ab" + han, 255, 254},  // ... at 254
      {han, 255, 255},         // a character ends exactly at 255
      {"é", 1, 0},             // no whole character fits
  };
  for (const Case& c : cases) {
    const std::string cut = CutUtf8(c.text, c.limit);
    EXPECT_EQ(cut.size(), c.expectedBytes) << c.text;
    EXPECT_EQ(c.text.compare(0, cut.size(), cut), 0);
    EXPECT_TRUE(g_utf8_validate(cut.data(), static_cast<gssize>(cut.size()), nullptr));
  }

  TestCamSetCameras({{.name = "a" + han, .serial = "long"}});
  TSysDevEnum devices(CLSID_VideoInputDeviceCategory);
  ASSERT_EQ(devices.DeviceCount(), 1);
  EXPECT_EQ(devices.DeviceAt(0).FriendlyName, ("a" + han).substr(0, 253));
}

TEST_F(TSysDevEnumTest, MonikerAtIsTheDeviceOfTheListingAndAsksNothing) {
  TestCamSetCameras({{.name = "A", .serial = "a"}, {.name = "B", .serial = "b"}});
  TSysDevEnum devices(CLSID_VideoInputDeviceCategory);
  ASSERT_EQ(devices.DeviceCount(), 2);

  // Whatever came or went since, an index names what the list shows.
  TestCamSetCameras({{.name = "C", .serial = "c"}, {.name = "B", .serial = "b"}});
  const auto before = platform::DeviceEnumerationCount();
  EXPECT_FALSE(devices.MonikerAt(-1));
  EXPECT_FALSE(devices.MonikerAt(devices.DeviceCount()));
  const auto first = devices.MonikerAt(0);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->DisplayName(), "A");
  EXPECT_EQ(platform::DeviceEnumerationCount(), before) << "MonikerAt enumerated";
  TestCamSetCameras({{.name = "A", .serial = "a"}});
  ASSERT_TRUE(devices.MonikerAt(1));
  EXPECT_EQ(devices.MonikerAt(1)->DisplayName(), "B");
}

TEST_F(TSysDevEnumTest, MonikerBytesRoundTripAndRejectOtherBytes) {
  TestCamSetCameras({{.name = "Kamera 中", .serial = "k1", .width = 320}});
  const auto moniker = TSysDevEnum(CLSID_VideoInputDeviceCategory).MonikerAt(0);
  ASSERT_TRUE(moniker);
  EXPECT_EQ(moniker->Factory(), "stillwicktestcam");

  const auto loaded = Moniker::Load(moniker->Save());
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->Text(), moniker->Text());
  EXPECT_EQ(loaded->DisplayName(), "Kamera 中");

  const std::string bad[] = {"", "not a structure {", "other-thing, category=Video/Source",
                             std::string("device-moniker, category=Video/Source\0x", 39),
                             "device-moniker, category=\"\xff\xfe\""};
  for (const std::string& text : bad) {
    EXPECT_FALSE(Moniker::Load({text.begin(), text.end()})) << text;
  }
}

TEST_F(TSysDevEnumTest, TheIdentityIsTheSerialElseTheBusPathElseTheName) {
  const std::pair<const char*, const char*> cases[] = {
      {"device.serial=s1, device.bus_path=pci-1, device.path=/dev/video0", "s1"},
      {"device.bus_path=platform-vivid.0, device.path=/dev/video0", "platform-vivid.0"},
      {"device.path=/dev/video0", "Cam"},
  };
  for (const auto& [hints, identity] : cases) {
    const std::string text =
        std::string("device-moniker, category=Video/Source, display-name=Cam, ") + hints;
    const auto moniker = Moniker::Load({text.begin(), text.end()});
    ASSERT_TRUE(moniker) << text;
    EXPECT_EQ(moniker->Identity(), identity) << text;
  }
}

TEST_F(TSysDevEnumTest, BindingFindsTheDeviceAgainBySerial) {
  TestCamSetCameras({{.name = "A", .serial = "a"}, {.name = "B", .serial = "b", .width = 320}});
  const auto moniker = TSysDevEnum(CLSID_VideoInputDeviceCategory).MonikerAt(1);
  ASSERT_TRUE(moniker);

  // B comes back first with other settings; its old device node now belongs to C.
  TestCamSetCameras({{.name = "B", .serial = "b", .width = 800}, {.name = "C", .serial = "c"}});
  const auto element = moniker->BindToObject();
  ASSERT_TRUE(element);
  EXPECT_EQ(StringProperty(element.get(), "serial"), "b");
  EXPECT_EQ(IntProperty(element.get(), "width"), 800) << "not made from the present device";
}

TEST_F(TSysDevEnumTest, BindingAVanishedDeviceFallsBackToItsFactory) {
  TestCamSetCameras({{.name = "A", .serial = "a"}, {.name = "B", .serial = "b", .width = 320}});
  const auto moniker = TSysDevEnum(CLSID_VideoInputDeviceCategory).MonikerAt(1);
  ASSERT_TRUE(moniker);

  // Only a namesake with another serial is left: it is not taken for B.
  TestCamSetCameras({{.name = "B", .serial = "other"}});
  const auto element = moniker->BindToObject();
  ASSERT_TRUE(element);
  EXPECT_EQ(FactoryName(element.get()), "stillwicktestcam");
  EXPECT_EQ(StringProperty(element.get(), "serial"), "b");
  EXPECT_EQ(IntProperty(element.get(), "width"), 320);

  const std::string missing =
      "device-moniker, category=Video/Source, factory=nosuchcamerasrc, display-name=Gone";
  const auto orphan = Moniker::Load({missing.begin(), missing.end()});
  ASSERT_TRUE(orphan);
  EXPECT_FALSE(orphan->BindToObject());
}

// The listing follows cameras plugged in and out as they come, as a started V4L2 provider does.
TEST_F(TSysDevEnumTest, ListingFollowsCamerasThatArriveAndLeave) {
  TestCamSetCameras({{.name = "Leaving", .serial = "l", .leaveAfterMs = 300},
                     {.name = "Arriving", .serial = "a", .arriveAfterMs = 300}});
  EXPECT_EQ(Names(TSysDevEnum(CLSID_VideoInputDeviceCategory)),
            std::vector<std::string>{"Leaving"});
  EXPECT_TRUE(harness::WaitFor([] {
    return Names(TSysDevEnum(CLSID_VideoInputDeviceCategory)) ==
           std::vector<std::string>{"Arriving"};
  }));
}

}  // namespace
