// A device's controls: their names as settings keys, values brought into range, and the V4L2
// control interface against a driver that lists, refuses and goes away.
#include <gtest/gtest.h>

#include "HarnessEventLoop.h"
#include "platform/media/DeviceControls.h"
#include "support/FakeV4l2Driver.h"

namespace {

using platform::ControlInfo;
using platform::ControlKind;

TEST(DeviceControlsTest, KeysAreSpeltAsV4l2CtlSpellsThem) {
  const std::pair<const char*, const char*> cases[] = {
      {"Brightness", "brightness"},
      {"Exposure Time, Absolute", "exposure_time_absolute"},
      {"White Balance Temperature, Auto", "white_balance_temperature_auto"},
      {"Gain, Automatic", "gain_automatic"},
      {"  Leading and trailing --", "leading_and_trailing"},
      {"Power Line Frequency (50/60)", "power_line_frequency_50_60"},
      {"Zoom--Absolute", "zoom_absolute"},
      {"Größe", "gr_e"},  // bytes outside ASCII separate, as in the C locale
      {"***", ""},
  };
  for (const auto& [name, key] : cases)
    EXPECT_EQ(platform::ControlKey(name), key) << name;
}

TEST(DeviceControlsTest, ValuesAreBroughtIntoTheControlsRange) {
  ControlInfo stepped;
  stepped.minimum = -10;
  stepped.maximum = 20;
  stepped.step = 4;  // -10, -6, ... 18
  ControlInfo wide;  // a 64-bit control over the whole range
  wide.minimum = INT64_MIN;
  wide.maximum = INT64_MAX;
  wide.step = 2;
  ControlInfo menu;
  menu.kind = ControlKind::Menu;
  menu.menu = {{0, "Off"}, {1, "50 Hz"}, {3, "Auto"}};  // 2 is a hole
  menu.defaultValue = 1;
  struct Case {
    const ControlInfo& control;
    std::int64_t stored;
    std::int64_t applied;
  };
  const Case cases[] = {
      {stepped, 500, 18},
      {stepped, -500, -10},
      {stepped, -7, -6},
      {stepped, -9, -10},
      {stepped, 20, 18},
      {stepped, 2, 2},
      {menu, 2, 1},  // equally near 1 and 3: the first
      {menu, 9, 3},
      {menu, -4, 0},
      {menu, INT64_MIN, 0},
      {menu, INT64_MAX, 3},
      {wide, INT64_MAX, INT64_MAX - 1},
      {wide, 0, 0},
      {wide, INT64_MIN, INT64_MIN},
  };
  for (const Case& c : cases)
    EXPECT_EQ(platform::ClampToControl(c.control, c.stored), c.applied) << c.stored;
}

class V4l2ControlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    driver.controls = {
        FakeV4l2Driver::Control(V4L2_CID_USER_CLASS, V4L2_CTRL_TYPE_CTRL_CLASS, "User Controls", 0,
                                0, 0, V4L2_CTRL_FLAG_READ_ONLY),
        FakeV4l2Driver::Control(V4L2_CID_BRIGHTNESS, V4L2_CTRL_TYPE_INTEGER, "Brightness", 0, 255,
                                128),
        FakeV4l2Driver::Control(V4L2_CID_AUTOGAIN, V4L2_CTRL_TYPE_BOOLEAN, "Gain, Automatic", 0, 1,
                                1),
        FakeV4l2Driver::Control(V4L2_CID_GAIN, V4L2_CTRL_TYPE_INTEGER, "Gain", 0, 255, 100,
                                V4L2_CTRL_FLAG_INACTIVE | V4L2_CTRL_FLAG_VOLATILE),
        FakeV4l2Driver::Control(V4L2_CID_POWER_LINE_FREQUENCY, V4L2_CTRL_TYPE_MENU,
                                "Power Line Frequency", 0, 3, 1),
        FakeV4l2Driver::Control(0x00980a00, V4L2_CTRL_TYPE_STRING, "String", 0, 32, 0,
                                V4L2_CTRL_FLAG_HAS_PAYLOAD),
        FakeV4l2Driver::Control(0x00980a01, V4L2_CTRL_TYPE_BUTTON, "Reset", 0, 0, 0,
                                V4L2_CTRL_FLAG_WRITE_ONLY),
    };
    driver.Find(V4L2_CID_POWER_LINE_FREQUENCY)->menu = {{0, "Disabled"}, {1, "50 Hz"}, {3, "Auto"}};
    driver.Find(V4L2_CID_BRIGHTNESS)->value = 90;
    controls = platform::V4l2ControlsOver(-1, driver.Bind());
    listed = controls->List(result);
  }

  FakeV4l2Driver driver;
  std::unique_ptr<platform::DeviceControls> controls;
  platform::ControlResult result;
  std::vector<ControlInfo> listed;
};

TEST_F(V4l2ControlsTest, ListsWhatCanBeShownInTheDriversOrder) {
  ASSERT_TRUE(result) << result.failure;
  ASSERT_EQ(listed.size(), 5u);  // no class heading, no string
  EXPECT_EQ(listed[0].name, "Brightness");
  EXPECT_EQ(listed[0].value, 90);
  EXPECT_EQ(listed[0].defaultValue, 128);
  EXPECT_EQ(listed[1].kind, ControlKind::Boolean);
  EXPECT_TRUE(listed[2].inactive);
  EXPECT_FALSE(listed[2].Storable());  // volatile
  EXPECT_EQ(listed[3].kind, ControlKind::Menu);
  ASSERT_EQ(listed[3].menu.size(), 3u);
  EXPECT_EQ(listed[3].menu[2].value, 3);
  EXPECT_EQ(listed[3].menu[2].label, "Auto");
  EXPECT_EQ(listed[4].kind, ControlKind::Button);
  EXPECT_FALSE(listed[4].Storable());
}

TEST_F(V4l2ControlsTest, AFailedSetLeavesTheDriversValueAndSaysWhy) {
  struct Case {
    int error;
    const char* failure;
    bool gone;
  };
  const Case cases[] = {
      {EBUSY, "Brightness: Device or resource busy", false},
      {EINVAL, "Brightness: Invalid argument", false},
      {ENODEV, "Brightness: No such device", true},
  };
  for (const Case& c : cases) {
    driver.setError = c.error;
    std::int64_t actual = -1;
    const platform::ControlResult set = controls->Set(listed[0], 200, actual);
    EXPECT_EQ(set.failure, c.failure);
    EXPECT_EQ(set.deviceGone, c.gone);
    EXPECT_EQ(actual, 90) << c.failure;
    EXPECT_EQ(driver.Find(V4L2_CID_BRIGHTNESS)->value, 90);
  }
  driver.setError = 0;
  std::int64_t actual = -1;
  EXPECT_TRUE(controls->Set(listed[0], 200, actual));
  EXPECT_EQ(actual, 200);
}

TEST_F(V4l2ControlsTest, ADeviceThatStopsAnsweringHoldsItsOwnThreadNotTheCaller) {
  driver.Hold();
  std::int64_t actual = -1;
  EXPECT_EQ(controls->Set(listed[0], 200, actual).failure,
            "Brightness: the device does not answer");
  EXPECT_EQ(actual, 90);
  EXPECT_FALSE(controls->Set(listed[0], 100, actual)) << "refused at once while a call hangs";
  driver.Release();
  EXPECT_TRUE(harness::WaitFor([&] { return bool(controls->Set(listed[0], 100, actual)); }));
  EXPECT_EQ(actual, 100);

  // Closed while a call hangs: the caller goes on, the call ends on its own.
  const int answered = driver.Answered();
  driver.Hold();
  EXPECT_FALSE(controls->Set(listed[0], 50, actual));
  controls.reset();
  driver.Release();
  EXPECT_EQ(driver.Answered(answered + 2), answered + 2);  // the change and its read-back
}

TEST_F(V4l2ControlsTest, AnUnpluggedDeviceListsNothingAndSaysSo) {
  driver.allError = ENODEV;
  platform::ControlResult again;
  EXPECT_TRUE(controls->List(again).empty());
  EXPECT_TRUE(again.deviceGone);
  EXPECT_TRUE(controls->TakeChanges().empty());
}

TEST_F(V4l2ControlsTest, TheDriversOwnChangesArriveAsValueAndFlags) {
  v4l2_event event{};
  event.type = V4L2_EVENT_CTRL;
  event.id = V4L2_CID_GAIN;
  event.u.ctrl.changes = V4L2_EVENT_CTRL_CH_FLAGS | V4L2_EVENT_CTRL_CH_VALUE;
  event.u.ctrl.value = 42;
  event.u.ctrl.flags = 0;  // autogain off: the gain is the user's again
  driver.events.push_back(event);
  const std::vector<platform::ControlChange> changes = controls->TakeChanges();
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].id, V4L2_CID_GAIN);
  EXPECT_TRUE(changes[0].valueChanged);
  EXPECT_EQ(changes[0].value, 42);
  EXPECT_TRUE(changes[0].flagsChanged);
  EXPECT_FALSE(changes[0].inactive);
}

}  // namespace
