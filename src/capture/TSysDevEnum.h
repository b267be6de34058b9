#pragma once
// The device enumerator: the devices of one category, listed by name in the platform's order.
// A list index is the only link between the name a user picks and the device that gets opened.
// Main thread only.

#include <memory>
#include <string>
#include <vector>

#include "platform/media/Moniker.h"

// The category of video input devices (cameras, capture cards): a device class of the monitor.
inline constexpr char CLSID_VideoInputDeviceCategory[] = "Video/Source";

struct DeviceEntry {
  std::string FriendlyName;  // UTF-8, at most kMaxFriendlyNameBytes bytes
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
  // The moniker of the device at `index` of an enumeration made now, not of the listing: null
  // for an index outside the listing (without asking the platform) and when the devices present
  // now are fewer than index + 1. Devices added or removed since the listing may shift it to
  // another device.
  std::unique_ptr<platform::Moniker> MonikerAt(int index) const;

 private:
  std::string category_;
  std::vector<DeviceEntry> entries_;
};

// `text` cut to at most `maxBytes` bytes without splitting a UTF-8 character.
std::string CutUtf8(const std::string& text, std::size_t maxBytes);
