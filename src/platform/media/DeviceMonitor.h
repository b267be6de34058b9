#pragma once
// The devices of a class ("Video/Source"), as one started GstDeviceMonitor per class keeps them
// for the whole process.
//
// Started, a monitor's providers keep their device lists themselves (hot-plug included) and an
// enumeration reads those lists without probing. That keeps the listing the same at every call
// while the devices stay the same. Probing enumerations are not: the PipeWire provider hides
// the V4L2 provider only from its first probe on, while a monitor reads what is hidden before
// it probes, so the first probing enumeration of a process lists each camera twice and every
// later one once. A probe also leaves the PipeWire provider's node proxies on the connection
// its elements share, and a capture that stops after one crashes inside the plugin.
//
// A provider's start may wait on an outside service without a limit (PipeWire's waits for its
// daemon), so each monitor starts on a thread of its own and an enumeration waits for that
// only kMonitorStartWait; until the start has ended, enumerations find no devices.
//
// The order: providers by rank (then factory name), each provider's devices in the order it
// found them. Main thread only.

#include <gst/gst.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/media/GstRef.h"

namespace platform {

inline constexpr std::chrono::milliseconds kMonitorStartWait{3000};

struct DeviceRecord {
  GstRef<GstDevice> device;
  std::string displayName;  // UTF-8, as the provider gives it
  // The card name of a V4L2 camera that another provider lists (PipeWire names it "vivid (V4L2)",
  // the V4L2 provider "vivid"): the name it had on a machine without that provider. Else empty.
  std::string v4l2Name;
};

// The devices of `deviceClass` present now; empty when none, when no provider serves the class,
// or while its monitor has not started.
std::vector<DeviceRecord> EnumerateDevices(const std::string& deviceClass);

// How many enumerations EnumerateDevices has made since start-up, so a caller's claim that it
// did not touch the platform can be checked.
std::uint64_t DeviceEnumerationCount() noexcept;

// Stops the started monitors; the next enumeration starts them again. For a change of what the
// providers connect to (tests that bring up a PipeWire session of their own); a monitor still
// starting is left as it is.
void StopDeviceMonitors();

// A device property (gst_device_get_properties) as text; empty when absent or not a string.
std::string DeviceProperty(GstDevice* device, const char* field);

}  // namespace platform
