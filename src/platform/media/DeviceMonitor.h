#pragma once
// One-shot listing of the devices of a class ("Video/Source") through a GstDeviceMonitor.
//
// Every call builds a new monitor and asks it for its devices without starting it: each provider
// then probes the hardware afresh, so the list is the machine's present state and no monitoring
// thread is left behind. The order is the monitor's own: providers by rank (then factory name),
// each provider's devices in its probe order. That order is the same on every call while the
// devices stay the same, which is what lets a list index name a device. Main thread only.

#include <gst/gst.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/media/GstRef.h"

namespace platform {

struct DeviceRecord {
  GstRef<GstDevice> device;
  std::string displayName;  // UTF-8, as the provider gives it
};

// The devices of `deviceClass` present now; empty when none or when no provider serves the class.
std::vector<DeviceRecord> EnumerateDevices(const std::string& deviceClass);

// How many enumerations EnumerateDevices has made since start-up, so a caller's claim that it
// did not touch the platform can be checked.
std::uint64_t DeviceEnumerationCount() noexcept;

// A device property (gst_device_get_properties) as text; empty when absent or not a string.
std::string DeviceProperty(GstDevice* device, const char* field);

}  // namespace platform
