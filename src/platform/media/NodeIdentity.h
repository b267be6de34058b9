#pragma once
// What udev knows of a V4L2 device node that names the device wherever it is plugged: its
// serial and its bus path, as GStreamer's V4L2 device provider reads them when its monitor is
// started. A probing enumeration (a monitor not started) leaves them out, and so does a
// provider that only names the node (PipeWire); udev has them for every node it identified.

#include <string>

namespace platform {

struct NodeIdentity {
  std::string serial;   // ID_SERIAL; empty when the device has none
  std::string busPath;  // ID_PATH, else the node's place in sysfs
};

// Empty fields when `node` is no character device or udev does not know it. Any thread.
NodeIdentity UdevIdentity(const std::string& node);

}  // namespace platform
