#pragma once
// The device enumerator: the devices of one category, listed by name in the platform's order.
// A list index is the only link between the name a user picks and the device that gets opened,
// so the enumerator keeps the devices it listed and an index names one of them until the next
// listing. Main thread only.

#include <memory>
#include <string>
#include <vector>

#include "platform/media/DeviceMonitor.h"
#include "platform/media/Moniker.h"

// The category of video input devices (cameras, capture cards): a device class of the monitor.
inline constexpr char CLSID_VideoInputDeviceCategory[] = "Video/Source";

struct DeviceEntry {
  std::string FriendlyName;  // UTF-8, at most kMaxFriendlyNameBytes bytes
  // The name the device had where the provider that lists it now was not installed (a V4L2
  // camera listed through PipeWire: its card name); empty when there is none.
  std::string FormerName;
};

class TSysDevEnum {
 public:
  // Longest friendly name kept, in bytes; a longer one is cut on a character boundary.
  static constexpr std::size_t kMaxFriendlyNameBytes = 255;

  explicit TSysDevEnum(const std::string& category);

  // Remembers the category and lists its devices anew.
  void SelectCategory(const std::string& category);

  int DeviceCount() const noexcept { return static_cast<int>(entries_.size()); }
  // Raises an error for an index outside 0 .. DeviceCount() - 1.
  DeviceEntry DeviceAt(int index) const;
  // The moniker of the device listed at `index`, whatever came or went since the listing;
  // null for an index outside it. Enumerates nothing.
  std::unique_ptr<platform::Moniker> MonikerAt(int index) const;
  // The index a stored friendly name selects: the first device of that name (ignoring case),
  // else the first whose former name it is; -1 when none.
  int IndexOfName(const std::string& name) const;

 private:
  std::string category_;
  std::vector<DeviceEntry> entries_;
  std::vector<platform::DeviceRecord> devices_;  // of the listing, in its order
};

// `text` cut to at most `maxBytes` bytes without splitting a UTF-8 character.
std::string CutUtf8(const std::string& text, std::size_t maxBytes);
