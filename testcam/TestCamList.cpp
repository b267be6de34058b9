#include "TestCamList.h"

#include <gst/gst.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>

#include "TestCamTypes.h"

#define GST_CAT_DEFAULT stillwick_testcam_debug

namespace testcam {
namespace {

// A serial that stays the same for the same name at the same place among its namesakes.
std::string DerivedSerial(const std::string& name, int namesakesBefore) {
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (unsigned char c : name) {
    hash = (hash ^ c) * 1099511628211ull;
  }
  char text[40];
  std::snprintf(text, sizeof text, "STWTC-%016llx", static_cast<unsigned long long>(hash));
  std::string serial = text;
  if (namesakesBefore > 0) {
    serial += '-';
    serial += std::to_string(namesakesBefore + 1);
  }
  return serial;
}

std::vector<std::string> OfferedSerials(const std::vector<TestCameraSpec>& cameras) {
  std::vector<std::string> serials;
  for (size_t i = 0; i < cameras.size(); ++i) {
    const TestCameraSpec& c = cameras[i];
    if (!c.hasSerial) {
      serials.emplace_back();
    } else if (!c.serial.empty()) {
      serials.push_back(c.serial);
    } else {
      int namesakes = 0;
      for (size_t j = 0; j < i; ++j)
        namesakes += cameras[j].name == c.name ? 1 : 0;
      serials.push_back(DerivedSerial(c.name, namesakes));
    }
  }
  return serials;
}

bool ReadString(const GstStructure* s, const char* field, std::string& out) {
  if (!gst_structure_has_field(s, field))
    return true;
  const char* value = gst_structure_get_string(s, field);
  if (!value)
    return false;
  out = value;
  return true;
}

bool ReadInt(const GstStructure* s, const char* field, int& out) {
  if (!gst_structure_has_field(s, field))
    return true;
  return gst_structure_get_int(s, field, &out);
}

bool ReadBool(const GstStructure* s, const char* field, bool& out) {
  if (!gst_structure_has_field(s, field))
    return true;
  gboolean value = FALSE;
  if (!gst_structure_get_boolean(s, field, &value))
    return false;
  out = value;
  return true;
}

struct CurrentList {
  // Guards everything below; taken by the main thread and by providers' probe/start on
  // whatever thread a monitor calls them.
  std::mutex mutex;
  bool filled = false;
  std::vector<CameraEntry> entries;  // listed now or later, or gone by now
  std::uint64_t nextId = 1;
};

std::vector<CameraEntry> ListedNow(const std::vector<CameraEntry>& entries) {
  const auto now = std::chrono::steady_clock::now();
  std::vector<CameraEntry> listed;
  for (const CameraEntry& e : entries) {
    if (e.PresentAt(now))
      listed.push_back(e);
  }
  return listed;
}

CurrentList& Current() {
  static CurrentList list;
  return list;
}

void FillOnceLocked(CurrentList& list) {
  if (list.filled)
    return;
  list.filled = true;
  std::vector<TestCameraSpec> cameras = DefaultCameras();
  if (const char* env = std::getenv("STILLWICK_TESTCAM")) {
    std::vector<TestCameraSpec> fromEnv;
    std::string error;
    if (CamerasFromEnvironment(env, fromEnv, error)) {
      cameras = std::move(fromEnv);
    } else {
      g_warning("STILLWICK_TESTCAM ignored: %s", error.c_str());
    }
  }
  list.entries = ReplaceEntries({}, cameras, list.nextId, std::chrono::steady_clock::now());
}

}  // namespace

std::vector<TestCameraSpec> DefaultCameras() {
  TestCameraSpec raw;
  TestCameraSpec mjpeg;
  mjpeg.name = "Stillwick Test Camera (MJPEG)";
  mjpeg.width = 1280;
  mjpeg.height = 720;
  mjpeg.format = "MJPEG";
  mjpeg.pattern = "ball";
  return {raw, mjpeg};
}

bool CamerasFromEnvironment(const char* text, std::vector<TestCameraSpec>& cameras,
                            std::string& error) {
  cameras.clear();
  if (!text || !*text)
    return true;
  GstCaps* parsed = gst_caps_from_string(text);
  if (!parsed || gst_caps_is_any(parsed)) {
    if (parsed)
      gst_caps_unref(parsed);
    error = "not a list of structures";
    return false;
  }
  bool ok = true;
  for (guint i = 0; ok && i < gst_caps_get_size(parsed); ++i) {
    const GstStructure* s = gst_caps_get_structure(parsed, i);
    TestCameraSpec spec;
    ok = ReadString(s, "name", spec.name) && ReadString(s, "serial", spec.serial) &&
         ReadBool(s, "has-serial", spec.hasSerial) && ReadString(s, "bus-path", spec.busPath) &&
         ReadInt(s, "width", spec.width) && ReadInt(s, "height", spec.height) &&
         ReadInt(s, "fps", spec.fps) && ReadString(s, "format", spec.format) &&
         ReadString(s, "modes", spec.modes) && ReadString(s, "pattern", spec.pattern) &&
         ReadString(s, "open-error", spec.openError) &&
         ReadInt(s, "fail-after-frames", spec.failAfterFrames) && ReadString(s, "end", spec.end) &&
         ReadBool(s, "modes-hidden", spec.modesHidden) &&
         ReadInt(s, "start-delay", spec.startDelayMs) &&
         ReadInt(s, "arrive-after", spec.arriveAfterMs) &&
         ReadInt(s, "leave-after", spec.leaveAfterMs);
    if (!ok)
      error = "a field of camera " + std::to_string(i + 1) + " has the wrong type";
    std::string profile;
    if (ok && ReadString(s, "profile", profile) && !profile.empty()) {
      const char* modes = TestCamProfileModes(profile);
      ok = modes != nullptr;
      if (ok)
        spec.modes = modes;
      else
        error = "camera " + std::to_string(i + 1) + " names no known profile";
    }
    cameras.push_back(std::move(spec));
  }
  gst_caps_unref(parsed);
  if (!ok)
    cameras.clear();
  return ok;
}

std::chrono::steady_clock::time_point CameraEntry::LeavesAt() const {
  if (spec.leaveAfterMs < 0)
    return std::chrono::steady_clock::time_point::max();
  return listedAt + std::chrono::milliseconds(spec.leaveAfterMs);
}

bool CameraEntry::PresentAt(std::chrono::steady_clock::time_point now) const {
  return now >= listedAt + std::chrono::milliseconds(spec.arriveAfterMs) && now < LeavesAt();
}

std::vector<CameraEntry> ReplaceEntries(const std::vector<CameraEntry>& old,
                                        const std::vector<TestCameraSpec>& cameras,
                                        std::uint64_t& nextId,
                                        std::chrono::steady_clock::time_point now) {
  const std::vector<std::string> serials = OfferedSerials(cameras);
  std::vector<CameraEntry> entries(cameras.size());
  std::vector<bool> claimed(old.size(), false);
  std::set<int> usedSlots;
  for (size_t i = 0; i < cameras.size(); ++i) {
    entries[i].spec = cameras[i];
    entries[i].serial = serials[i];
    for (size_t j = 0; j < old.size(); ++j) {
      if (!claimed[j] && old[j].spec == cameras[i] && old[j].serial == serials[i]) {
        claimed[j] = true;
        entries[i].id = old[j].id;
        entries[i].slot = old[j].slot;
        entries[i].listedAt = old[j].listedAt;
        usedSlots.insert(old[j].slot);
        break;
      }
    }
  }
  int freeSlot = 0;
  for (CameraEntry& e : entries) {
    if (e.id != 0)
      continue;
    e.id = nextId++;
    e.listedAt = now;
    while (usedSlots.count(freeSlot))
      ++freeSlot;
    e.slot = freeSlot;
    usedSlots.insert(freeSlot);
  }
  return entries;
}

std::vector<CameraEntry> CurrentCameras() {
  CurrentList& list = Current();
  std::lock_guard lock(list.mutex);
  FillOnceLocked(list);
  return ListedNow(list.entries);
}

std::vector<CameraEntry> SetCurrentCameras(const std::vector<TestCameraSpec>& cameras) {
  CurrentList& list = Current();
  std::lock_guard lock(list.mutex);
  FillOnceLocked(list);
  list.entries =
      ReplaceEntries(list.entries, cameras, list.nextId, std::chrono::steady_clock::now());
  return ListedNow(list.entries);
}

std::optional<std::chrono::steady_clock::time_point> NextScheduledChange() {
  CurrentList& list = Current();
  std::lock_guard lock(list.mutex);
  FillOnceLocked(list);
  const auto now = std::chrono::steady_clock::now();
  std::optional<std::chrono::steady_clock::time_point> next;
  for (const CameraEntry& e : list.entries) {
    for (const auto due :
         {e.listedAt + std::chrono::milliseconds(e.spec.arriveAfterMs), e.LeavesAt()}) {
      if (due > now && due != std::chrono::steady_clock::time_point::max() &&
          (!next || due < *next))
        next = due;
    }
  }
  return next;
}

std::string DevicePath(int slot) {
  return "/dev/stillwicktestcam" + std::to_string(slot);
}

std::optional<CameraEntry> CameraAt(const std::string& path) {
  for (const CameraEntry& entry : CurrentCameras()) {
    if (DevicePath(entry.slot) == path)
      return entry;
  }
  return std::nullopt;
}

}  // namespace testcam
