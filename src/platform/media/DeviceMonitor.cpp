#include "platform/media/DeviceMonitor.h"

#include <atomic>

namespace platform {

namespace {
std::atomic<std::uint64_t> enumerations{0};
}

std::vector<DeviceRecord> EnumerateDevices(const std::string& deviceClass) {
  ++enumerations;
  std::vector<DeviceRecord> records;
  // An empty class would match every device of every kind; a category must be named.
  if (deviceClass.empty())
    return records;

  auto monitor = GstRef<GstDeviceMonitor>::Adopt(gst_device_monitor_new());
  // 0: no provider serves the class, the category is absent.
  if (gst_device_monitor_add_filter(monitor.get(), deviceClass.c_str(), nullptr) == 0) {
    return records;
  }
  GList* devices = gst_device_monitor_get_devices(monitor.get());  // transfer full
  for (GList* item = devices; item; item = item->next) {
    auto device = GstRef<GstDevice>::Adopt(GST_DEVICE(item->data));
    GCharPtr name(gst_device_get_display_name(device.get()));
    records.push_back({std::move(device), name ? name.get() : ""});
  }
  g_list_free(devices);
  return records;
}

std::uint64_t DeviceEnumerationCount() noexcept {
  return enumerations.load();
}

std::string DeviceProperty(GstDevice* device, const char* field) {
  GstStructurePtr properties(gst_device_get_properties(device));
  if (!properties)
    return {};
  const gchar* value = gst_structure_get_string(properties.get(), field);
  return value ? value : "";
}

}  // namespace platform
