// The test camera: its element streams the formats it claims and can play an unplugged camera;
// its provider lists the cameras set from code, in order, and reports changes while monitored.
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestCam.h"
#include "TestCamList.h"
#include "platform/media/GstRef.h"
#include "support/ElementState.h"

using platform::GCharPtr;
using platform::GstRef;

namespace {

constexpr GstClockTime kWait = 10 * GST_SECOND;

struct Running {
  GstRef<GstElement> pipeline;
  GstRef<GstElement> camera;
  GstRef<GstElement> sink;

  // `downstream`: caps the sink accepts, empty for any.
  explicit Running(const std::string& cameraProps, const std::string& downstream = "",
                   GstStateChangeReturn expected = GST_STATE_CHANGE_ASYNC) {
    const std::string text = "stillwicktestcam name=cam " + cameraProps + " ! " +
                             (downstream.empty() ? "" : downstream + " ! ") +
                             "appsink name=sink sync=false max-buffers=100";
    GError* error = nullptr;
    pipeline = GstRef<GstElement>::Adopt(gst_parse_launch(text.c_str(), &error));
    platform::GErrorPtr owned(error);
    EXPECT_EQ(error, nullptr) << text;
    camera = GstRef<GstElement>::Adopt(gst_bin_get_by_name(GST_BIN(pipeline.get()), "cam"));
    sink = GstRef<GstElement>::Adopt(gst_bin_get_by_name(GST_BIN(pipeline.get()), "sink"));
    Play(expected);
  }
  // The camera of a listed device.
  explicit Running(GstDevice* device)
      : pipeline(GstRef<GstElement>::Adopt(gst_pipeline_new(nullptr))),
        camera(GstRef<GstElement>::Adopt(gst_device_create_element(device, nullptr))),
        sink(GstRef<GstElement>::Adopt(gst_element_factory_make("appsink", nullptr))) {
    gst_bin_add_many(GST_BIN(pipeline.get()), camera.get(), sink.get(), nullptr);
    EXPECT_TRUE(gst_element_link(camera.get(), sink.get()));
    g_object_set(sink.get(), "sync", FALSE, "max-buffers", 100u, nullptr);
    Play(GST_STATE_CHANGE_ASYNC);
  }
  void Play(GstStateChangeReturn expected) {
    const GstStateChangeReturn result = gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    EXPECT_EQ(result == GST_STATE_CHANGE_FAILURE, expected == GST_STATE_CHANGE_FAILURE);
  }
  ~Running() { gst_element_set_state(pipeline.get(), GST_STATE_NULL); }

  GstRef<GstSample> Pull(GstClockTime timeout = kWait) {
    return GstRef<GstSample>::Adopt(
        gst_app_sink_try_pull_sample(GST_APP_SINK(sink.get()), timeout));
  }
  // The first error or end of stream on the bus.
  GstRef<GstMessage> End() {
    auto bus = GstRef<GstBus>::Adopt(gst_element_get_bus(pipeline.get()));
    return GstRef<GstMessage>::Adopt(gst_bus_timed_pop_filtered(
        bus.get(), kWait, static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_EOS)));
  }
};

// The message is an ERROR of the camera with this code, its text containing `text`.
void ExpectCameraError(GstMessage* msg, GstElement* camera, gint code, const char* text) {
  ASSERT_TRUE(msg);
  ASSERT_EQ(GST_MESSAGE_TYPE(msg), GST_MESSAGE_ERROR);
  EXPECT_EQ(GST_MESSAGE_SRC(msg), GST_OBJECT(camera));
  GError* error = nullptr;
  gst_message_parse_error(msg, &error, nullptr);
  platform::GErrorPtr owned(error);
  EXPECT_TRUE(g_error_matches(error, GST_RESOURCE_ERROR, code)) << error->message;
  EXPECT_NE(std::string(error->message).find(text), std::string::npos) << error->message;
}

std::vector<std::string> Names(GList* devices) {
  std::vector<std::string> names;
  for (GList* l = devices; l; l = l->next) {
    names.emplace_back(GCharPtr(gst_device_get_display_name(GST_DEVICE(l->data))).get());
  }
  return names;
}

std::string Property(GstDevice* device, const char* key) {
  platform::GstStructurePtr props(gst_device_get_properties(device));
  const char* value = props ? gst_structure_get_string(props.get(), key) : nullptr;
  return value ? value : "";
}

struct Monitor {
  GstRef<GstDeviceMonitor> monitor = GstRef<GstDeviceMonitor>::Adopt(gst_device_monitor_new());
  GstRef<GstBus> bus = GstRef<GstBus>::Adopt(gst_device_monitor_get_bus(monitor.get()));
  GList* devices = nullptr;

  Monitor() { gst_device_monitor_add_filter(monitor.get(), "Video/Source", nullptr); }
  ~Monitor() {
    g_list_free_full(devices, gst_object_unref);
    gst_device_monitor_stop(monitor.get());
  }
  GList* Devices() {
    g_list_free_full(devices, gst_object_unref);
    devices = gst_device_monitor_get_devices(monitor.get());
    return devices;
  }
  // The names in the device-added and device-removed messages waiting on the bus, in order.
  std::vector<std::string> Changes() {
    std::vector<std::string> changes;
    while (auto msg = GstRef<GstMessage>::Adopt(gst_bus_pop_filtered(
               bus.get(), static_cast<GstMessageType>(GST_MESSAGE_DEVICE_ADDED |
                                                      GST_MESSAGE_DEVICE_REMOVED)))) {
      GstDevice* device = nullptr;
      const bool added = GST_MESSAGE_TYPE(msg.get()) == GST_MESSAGE_DEVICE_ADDED;
      added ? gst_message_parse_device_added(msg.get(), &device)
            : gst_message_parse_device_removed(msg.get(), &device);
      auto owned = GstRef<GstDevice>::Adopt(device);
      changes.push_back((added ? "+" : "-") +
                        std::string(GCharPtr(gst_device_get_display_name(device)).get()));
    }
    return changes;
  }
};

TEST(TestCamTest, ElementDeliversTheModeDownstreamAccepts) {
  const std::string modes = "modes=\"YUY2 640x360@30, MJPEG 1280x720@30, GRAY8 322x242@15\"";
  struct Case {
    std::string props;
    std::string downstream;
    const char* media;
    const char* format;  // nullptr for image/jpeg
    int width, height;
  };
  const Case cases[] = {
      {"format=YUY2 width=320 height=240 framerate=25", "", "video/x-raw", "YUY2", 320, 240},
      {"format=BGR width=322 height=242 pattern=ball", "", "video/x-raw", "BGR", 322, 242},
      {"format=NV12 width=321 height=241", "", "video/x-raw", "NV12", 321, 241},
      {"format=I420 width=320 height=240", "", "video/x-raw", "I420", 320, 240},
      {"format=MJPEG width=640 height=360", "", "image/jpeg", nullptr, 640, 360},
      // A camera with modes delivers its first one unless downstream wants another.
      {modes, "", "video/x-raw", "YUY2", 640, 360},
      {modes, "image/jpeg", "image/jpeg", nullptr, 1280, 720},
      {modes, "video/x-raw,format=GRAY8", "video/x-raw", "GRAY8", 322, 242},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.props + " ! " + c.downstream);
    Running run(c.props, c.downstream);
    auto sample = run.Pull();
    ASSERT_TRUE(sample);
    GstCaps* caps = gst_sample_get_caps(sample.get());
    const GstStructure* s = gst_caps_get_structure(caps, 0);
    EXPECT_STREQ(gst_structure_get_name(s), c.media);
    int width = 0, height = 0;
    EXPECT_TRUE(gst_structure_get_int(s, "width", &width));
    EXPECT_TRUE(gst_structure_get_int(s, "height", &height));
    EXPECT_EQ(width, c.width);
    EXPECT_EQ(height, c.height);
    platform::BufferMap map(gst_sample_get_buffer(sample.get()), GST_MAP_READ);
    ASSERT_TRUE(map);
    if (c.format) {
      EXPECT_STREQ(gst_structure_get_string(s, "format"), c.format);
      GstVideoInfo info;
      ASSERT_TRUE(gst_video_info_from_caps(&info, caps));
      EXPECT_GE(map.size(), GST_VIDEO_INFO_SIZE(&info));
    } else {
      ASSERT_GE(map.size(), 2u);
      EXPECT_EQ(map.data()[0], 0xFF);  // JPEG start-of-image marker
      EXPECT_EQ(map.data()[1], 0xD8);
    }
  }
}

TEST(TestCamTest, ElementBusyOrMissingDeviceFailsToOpenAsV4l2srcDoes) {
  struct Case {
    const char* openError;
    gint code;
    const char* text;
    GstState reached;  // the camera's state after the failed start
  };
  const Case cases[] = {
      {"busy", GST_RESOURCE_ERROR_BUSY, "is busy", GST_STATE_READY},
      {"not-found", GST_RESOURCE_ERROR_NOT_FOUND, "Cannot identify device", GST_STATE_NULL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.openError);
    Running run(std::string("open-error=") + c.openError, "", GST_STATE_CHANGE_FAILURE);
    ExpectCameraError(run.End().get(), run.camera.get(), c.code, c.text);
    EXPECT_EQ(CurrentState(run.camera.get()), c.reached);
    EXPECT_FALSE(run.Pull(100 * GST_MSECOND));
  }
}

TEST(TestCamTest, ElementLostDeviceStopsFramesAndEndsAsSet) {
  struct Case {
    int frames;
    const char* end;
  };
  for (const Case& c : {Case{0, "error"}, Case{3, "error"}, Case{3, "eos"}}) {
    SCOPED_TRACE(std::to_string(c.frames) + " " + c.end);
    Running run("fail-after-frames=" + std::to_string(c.frames) + " end=" + c.end);
    for (int i = 0; i < c.frames; ++i)
      ASSERT_TRUE(run.Pull()) << "frame " << i;

    auto msg = run.End();
    ASSERT_TRUE(msg);
    if (std::string(c.end) == "eos") {
      EXPECT_EQ(GST_MESSAGE_TYPE(msg.get()), GST_MESSAGE_EOS);
    } else {
      ExpectCameraError(msg.get(), run.camera.get(), GST_RESOURCE_ERROR_READ,
                        kTestCamDeviceLostText);
      const GstStructure* details = nullptr;
      gst_message_parse_error_details(msg.get(), &details);
      gboolean lost = FALSE;
      ASSERT_NE(details, nullptr);
      EXPECT_TRUE(gst_structure_get_boolean(details, kTestCamDeviceLostField, &lost) && lost);
    }
    EXPECT_FALSE(run.Pull(300 * GST_MSECOND)) << "a lost camera delivered another frame";
  }
}

TEST(TestCamTest, ProviderMonitorListsCamerasInOrderByProbeAndWhileStarted) {
  std::string longName;
  while (longName.size() < 320)
    longName += "长名字摄像头";
  const TestCameraSpec serialless{
      .name = "USB Camera", .hasSerial = false, .busPath = "pci-0000:00:14.0-usb-0:2:1.0"};
  TestCamSetCameras({{.name = "USB Camera"},
                     {.name = "摄像头"},
                     {.name = "USB Camera", .format = "MJPEG"},
                     {.name = longName},
                     serialless});
  const std::vector<std::string> expected = {"USB Camera", "摄像头", "USB Camera", longName,
                                             "USB Camera"};

  for (bool started : {false, true}) {
    SCOPED_TRACE(started ? "started" : "probed");
    Monitor m;
    if (started) {
      ASSERT_TRUE(gst_device_monitor_start(m.monitor.get()));
    }
    GList* devices = m.Devices();
    ASSERT_EQ(Names(devices), expected);

    std::vector<std::string> serials, paths;
    for (GList* l = devices; l; l = l->next) {
      auto* device = GST_DEVICE(l->data);
      EXPECT_TRUE(gst_device_has_classes(device, "Video/Source"));
      EXPECT_EQ(Property(device, "device.api"), "stillwicktestcam");
      serials.push_back(Property(device, "device.serial"));
      paths.push_back(Property(device, "device.path"));
    }
    // Namesakes are told apart by serial; a camera without one offers only its bus path.
    EXPECT_NE(serials[0], serials[2]);
    EXPECT_FALSE(serials[0].empty());
    EXPECT_EQ(serials[4], "");
    EXPECT_EQ(Property(GST_DEVICE(g_list_last(devices)->data), "device.bus_path"),
              serialless.busPath);
    EXPECT_EQ(paths[0], "/dev/stillwicktestcam0");
    EXPECT_EQ(paths[4], "/dev/stillwicktestcam4");

    GstRef<GstCaps> caps =
        GstRef<GstCaps>::Adopt(gst_device_get_caps(GST_DEVICE(g_list_nth_data(devices, 2))));
    EXPECT_STREQ(gst_structure_get_name(gst_caps_get_structure(caps.get(), 0)), "image/jpeg");
  }
}

TEST(TestCamTest, ProviderDeviceCreatesCameraWithItsSettings) {
  TestCamSetCameras({{.name = "Bench Camera",
                      .serial = "SN-0042",
                      .width = 800,
                      .height = 600,
                      .fps = 15,
                      .format = "BGR",
                      .pattern = "ball",
                      .failAfterFrames = 7}});
  Monitor m;
  GList* devices = m.Devices();
  ASSERT_EQ(g_list_length(devices), 1u);
  auto element =
      GstRef<GstElement>::Adopt(gst_device_create_element(GST_DEVICE(devices->data), "source"));
  ASSERT_TRUE(element);

  gchar *name = nullptr, *serial = nullptr, *format = nullptr, *pattern = nullptr;
  int width = 0, height = 0, fps = 0, failAfter = 0;
  g_object_get(element.get(), "device-name", &name, "serial", &serial, "format", &format, "pattern",
               &pattern, "width", &width, "height", &height, "framerate", &fps, "fail-after-frames",
               &failAfter, nullptr);
  GCharPtr owned[] = {GCharPtr(name), GCharPtr(serial), GCharPtr(format), GCharPtr(pattern)};
  EXPECT_STREQ(GST_OBJECT_NAME(element.get()), "source");
  EXPECT_STREQ(name, "Bench Camera");
  EXPECT_STREQ(serial, "SN-0042");
  EXPECT_STREQ(format, "BGR");
  EXPECT_STREQ(pattern, "ball");
  EXPECT_EQ(width, 800);
  EXPECT_EQ(height, 600);
  EXPECT_EQ(fps, 15);
  EXPECT_EQ(failAfter, 7);
}

TEST(TestCamTest, ProviderStartedMonitorReportsCamerasComingAndGoing) {
  TestCamSetCameras({{.name = "A"}, {.name = "B"}});
  Monitor m;
  ASSERT_TRUE(gst_device_monitor_start(m.monitor.get()));
  m.Changes();  // the initial devices

  TestCamSetCameras({{.name = "B"}, {.name = "C"}});
  EXPECT_EQ(m.Changes(), (std::vector<std::string>{"-A", "+C"}));
  GList* devices = m.Devices();
  ASSERT_EQ(Names(devices), (std::vector<std::string>{"B", "C"}));
  // B keeps its node; C takes the one A freed.
  EXPECT_EQ(Property(GST_DEVICE(devices->data), "device.path"), "/dev/stillwicktestcam1");
  EXPECT_EQ(Property(GST_DEVICE(devices->next->data), "device.path"), "/dev/stillwicktestcam0");

  TestCamSetCameras({{.name = "B"}, {.name = "X"}, {.name = "C"}});
  m.Changes();
  EXPECT_EQ(Names(m.Devices()), (std::vector<std::string>{"B", "X", "C"}));

  TestCamSetCameras({});
  EXPECT_EQ(m.Changes(), (std::vector<std::string>{"-B", "-X", "-C"}));
  EXPECT_EQ(m.Devices(), nullptr);
}

TEST(TestCamTest, ProviderOpenCameraThatLeavesTheListIsUnpluggedAndCannotBeOpenedAgain) {
  TestCamSetCameras({{.name = "Webcam", .modes = TestCamProfileModes("usb-webcam")}});
  Monitor m;
  GList* devices = m.Devices();
  ASSERT_EQ(g_list_length(devices), 1u);
  auto caps = GstRef<GstCaps>::Adopt(gst_device_get_caps(GST_DEVICE(devices->data)));
  EXPECT_EQ(gst_caps_get_size(caps.get()), 6u) << "one structure per mode";

  Running run(GST_DEVICE(devices->data));
  ASSERT_TRUE(run.Pull());

  // Another camera takes its node: it is still another device.
  TestCamSetCameras({{.name = "Another"}});
  ExpectCameraError(run.End().get(), run.camera.get(), GST_RESOURCE_ERROR_READ,
                    kTestCamDeviceLostText);
  gst_element_set_state(run.pipeline.get(), GST_STATE_NULL);
  TestCamSetCameras({});
  run.Play(GST_STATE_CHANGE_FAILURE);
  ExpectCameraError(run.End().get(), run.camera.get(), GST_RESOURCE_ERROR_NOT_FOUND,
                    "Cannot identify device '/dev/stillwicktestcam0'.");
}

TEST(TestCamTest, ProviderCamerasArriveAndLeaveOnTheirSchedule) {
  TestCamSetCameras(
      {{.name = "Leaving", .leaveAfterMs = 300}, {.name = "Arriving", .arriveAfterMs = 300}});
  Monitor m;
  GList* devices = m.Devices();
  ASSERT_EQ(Names(devices), std::vector<std::string>{"Leaving"});

  Running run(GST_DEVICE(devices->data));
  ExpectCameraError(run.End().get(), run.camera.get(), GST_RESOURCE_ERROR_READ,
                    kTestCamDeviceLostText);
  EXPECT_EQ(Names(m.Devices()), std::vector<std::string>{"Arriving"});
  TestCamSetCameras({});
}

TEST(TestCamTest, ListCamerasFromEnvironmentText) {
  std::vector<TestCameraSpec> cameras;
  std::string error;
  ASSERT_TRUE(testcam::CamerasFromEnvironment(
      "camera, name=\"前门; 摄像头\", format=MJPEG, width=1280, height=720, fail-after-frames=9; "
      "camera, name=Plain, has-serial=false",
      cameras, error))
      << error;
  ASSERT_EQ(cameras.size(), 2u);
  EXPECT_EQ(cameras[0].name, "前门; 摄像头");
  EXPECT_EQ(cameras[0].format, "MJPEG");
  EXPECT_EQ(cameras[0].width, 1280);
  EXPECT_EQ(cameras[0].failAfterFrames, 9);
  EXPECT_EQ(cameras[1].name, "Plain");
  EXPECT_FALSE(cameras[1].hasSerial);

  ASSERT_TRUE(testcam::CamerasFromEnvironment(
      "camera, profile=microscope, open-error=busy, end=eos, arrive-after=5, leave-after=9",
      cameras, error))
      << error;
  ASSERT_EQ(cameras.size(), 1u);
  EXPECT_EQ(cameras[0].modes, TestCamProfileModes("microscope"));
  EXPECT_EQ(cameras[0].openError, "busy");
  EXPECT_EQ(cameras[0].end, "eos");
  EXPECT_EQ(cameras[0].arriveAfterMs, 5);
  EXPECT_EQ(cameras[0].leaveAfterMs, 9);

  EXPECT_TRUE(testcam::CamerasFromEnvironment("", cameras, error));
  EXPECT_TRUE(cameras.empty());
  EXPECT_FALSE(testcam::CamerasFromEnvironment("camera, width=wide", cameras, error));
  EXPECT_FALSE(testcam::CamerasFromEnvironment("camera, profile=nosuch", cameras, error));
}

}  // namespace
