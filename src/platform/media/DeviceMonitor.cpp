#include "platform/media/DeviceMonitor.h"

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/runtime/Diagnostics.h"
#include "platform/runtime/Threads.h"

namespace platform {

namespace {

std::atomic<std::uint64_t> enumerations{0};

// One class's monitor. The main thread makes it and hands it to the thread that starts it;
// from then on only that thread touches the monitor until `started`, and only the main thread
// after. The hand-back is `started`, under `mutex`.
struct MonitorSlot {
  GstRef<GstDeviceMonitor> monitor;
  std::mutex mutex;
  std::condition_variable startEnded;
  bool started = false;  // guarded by mutex
};

// Main thread only. Never destroyed: a started monitor must not be freed at exit.
std::map<std::string, std::shared_ptr<MonitorSlot>>& Slots() {
  static auto* slots = new std::map<std::string, std::shared_ptr<MonitorSlot>>();
  return *slots;
}

// The thread a monitor starts on: our own, not one of GStreamer's. Whatever the providers'
// starts wait for, they wait here.
void StartMonitor_Thread(const std::shared_ptr<MonitorSlot>& slot) noexcept {
  gst_device_monitor_start(slot->monitor.get());
  // Nobody reads the monitor's device messages (the providers' lists are read instead); a
  // flushing bus drops them rather than letting them pile up.
  auto bus = GstRef<GstBus>::Adopt(gst_device_monitor_get_bus(slot->monitor.get()));
  gst_bus_set_flushing(bus.get(), TRUE);
  {
    std::lock_guard lock(slot->mutex);
    slot->started = true;
  }
  slot->startEnded.notify_all();
}

// The started monitor of `deviceClass`, waiting (bounded) for its start; null when no provider
// serves the class or the start has not ended in time.
GstDeviceMonitor* StartedMonitor(const std::string& deviceClass) {
  std::shared_ptr<MonitorSlot>& slot = Slots()[deviceClass];
  if (!slot) {
    auto monitor = GstRef<GstDeviceMonitor>::Adopt(gst_device_monitor_new());
    // 0: no provider serves the class, the category is absent.
    if (gst_device_monitor_add_filter(monitor.get(), deviceClass.c_str(), nullptr) == 0) {
      Slots().erase(deviceClass);
      return nullptr;
    }
    auto made = std::make_shared<MonitorSlot>();
    made->monitor = std::move(monitor);
    std::thread(StartMonitor_Thread, made).detach();
    slot = std::move(made);
  }
  std::unique_lock lock(slot->mutex);
  if (!slot->startEnded.wait_for(lock, kMonitorStartWait, [&] { return slot->started; })) {
    LogLimited(lcPlatform(), "devices",
               QStringLiteral("the device providers of %1 have not started yet; none listed")
                   .arg(QString::fromStdString(deviceClass)));
    return nullptr;
  }
  return slot->monitor.get();
}

}  // namespace

std::vector<DeviceRecord> EnumerateDevices(const std::string& deviceClass) {
  AssertMainThread();
  ++enumerations;
  std::vector<DeviceRecord> records;
  // An empty class would match every device of every kind; a category must be named.
  if (deviceClass.empty())
    return records;
  GstDeviceMonitor* monitor = StartedMonitor(deviceClass);
  if (!monitor)
    return records;
  GList* devices = gst_device_monitor_get_devices(monitor);  // transfer full
  for (GList* item = devices; item; item = item->next) {
    auto device = GstRef<GstDevice>::Adopt(GST_DEVICE(item->data));
    GCharPtr name(gst_device_get_display_name(device.get()));
    DeviceRecord record{std::move(device), name ? name.get() : "", {}};
    const std::string card = DeviceProperty(record.device.get(), "api.v4l2.cap.card");
    if (DeviceProperty(record.device.get(), "device.api") == "v4l2" && card != record.displayName)
      record.v4l2Name = card;
    records.push_back(std::move(record));
  }
  g_list_free(devices);
  return records;
}

std::uint64_t DeviceEnumerationCount() noexcept {
  return enumerations.load();
}

void StopDeviceMonitors() {
  AssertMainThread();
  for (auto it = Slots().begin(); it != Slots().end();) {
    bool started = false;
    {
      std::lock_guard lock(it->second->mutex);
      started = it->second->started;
    }
    if (!started) {
      ++it;
      continue;
    }
    gst_device_monitor_stop(it->second->monitor.get());
    it = Slots().erase(it);
  }
}

std::string DeviceProperty(GstDevice* device, const char* field) {
  GstStructurePtr properties(gst_device_get_properties(device));
  if (!properties)
    return {};
  const gchar* value = gst_structure_get_string(properties.get(), field);
  return value ? value : "";
}

}  // namespace platform
