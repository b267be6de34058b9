// One camera of the list as a GstDevice: its name, caps and identity hints, and the element that
// opens it.

#include "TestCamDevice.h"

#include <new>
#include <string>

#define GST_CAT_DEFAULT stillwick_testcam_debug

struct _StillwickTestCamDevice {
  GstDevice parent;
  testcam::CameraEntry entry;  // constant after construction
};

G_DEFINE_TYPE(StillwickTestCamDevice, stillwick_test_cam_device, GST_TYPE_DEVICE)

namespace {

// Unset string properties stay at their defaults, so a moniker does not store them.
const char* NullIfEmpty(const std::string& text) {
  return text.empty() ? nullptr : text.c_str();
}

GstElement* stillwick_test_cam_device_create_element(GstDevice* device, const gchar* name) {
  const testcam::CameraEntry& e = STILLWICK_TEST_CAM_DEVICE(device)->entry;
  GstElement* element = gst_element_factory_make(testcam::kElementName, name);
  if (!element) {
    GST_ERROR_OBJECT(device, "the element '%s' is not registered", testcam::kElementName);
    return nullptr;
  }
  g_object_set(element, "device", testcam::DevicePath(e.slot).c_str(), "device-name",
               e.spec.name.c_str(), "serial", NullIfEmpty(e.serial), "width", e.spec.width,
               "height", e.spec.height, "framerate", e.spec.fps, "format", e.spec.format.c_str(),
               "modes", NullIfEmpty(e.spec.modes), "pattern", e.spec.pattern.c_str(), "open-error",
               NullIfEmpty(e.spec.openError), "fail-after-frames", e.spec.failAfterFrames, "end",
               e.spec.end.c_str(), "modes-hidden", e.spec.modesHidden, "start-delay",
               e.spec.startDelayMs, nullptr);
  return element;
}

void stillwick_test_cam_device_finalize(GObject* object) {
  using testcam::CameraEntry;
  STILLWICK_TEST_CAM_DEVICE(object)->entry.~CameraEntry();
  G_OBJECT_CLASS(stillwick_test_cam_device_parent_class)->finalize(object);
}

}  // namespace

static void stillwick_test_cam_device_class_init(StillwickTestCamDeviceClass* klass) {
  G_OBJECT_CLASS(klass)->finalize = stillwick_test_cam_device_finalize;
  GST_DEVICE_CLASS(klass)->create_element = stillwick_test_cam_device_create_element;
}

static void stillwick_test_cam_device_init(StillwickTestCamDevice* self) {
  new (&self->entry) testcam::CameraEntry();
}

namespace testcam {

GstDevice* NewCameraDevice(const CameraEntry& entry) {
  GstStructure* props =
      gst_structure_new("stillwicktestcam-properties", "device.api", G_TYPE_STRING, kElementName,
                        "device.path", G_TYPE_STRING, DevicePath(entry.slot).c_str(), nullptr);
  if (!entry.serial.empty()) {
    gst_structure_set(props, "device.serial", G_TYPE_STRING, entry.serial.c_str(), nullptr);
  }
  if (!entry.spec.busPath.empty()) {
    gst_structure_set(props, "device.bus_path", G_TYPE_STRING, entry.spec.busPath.c_str(), nullptr);
  }
  GstCaps* caps = CameraCaps(entry.spec);
  auto* device = static_cast<StillwickTestCamDevice*>(
      g_object_new(STILLWICK_TYPE_TEST_CAM_DEVICE, "display-name", entry.spec.name.c_str(),
                   "device-class", "Video/Source", "caps", caps, "properties", props, nullptr));
  gst_caps_unref(caps);
  gst_structure_free(props);
  device->entry = entry;
  return GST_DEVICE(device);
}

std::uint64_t CameraDeviceId(GstDevice* device) {
  return STILLWICK_IS_TEST_CAM_DEVICE(device) ? STILLWICK_TEST_CAM_DEVICE(device)->entry.id : 0;
}

}  // namespace testcam
