#pragma once
// The list of cameras the provider offers, shared by every provider instance and probe.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "TestCam.h"

namespace testcam {

struct CameraEntry {
  std::uint64_t id = 0;  // stays the same while the camera stays in the list
  TestCameraSpec spec;
  std::string serial;  // the serial offered; empty when the camera has none
  int slot = 0;        // N of "/dev/stillwicktestcam<N>"
  std::chrono::steady_clock::time_point listedAt;  // when the list that brought it was set

  // When it leaves the list (time_point::max(): never).
  std::chrono::steady_clock::time_point LeavesAt() const;
  bool PresentAt(std::chrono::steady_clock::time_point now) const;
};

// The cameras used when no list was set from code: from STILLWICK_TESTCAM when it is set,
// otherwise the two default cameras. Returns false with a reason when the variable is malformed.
bool CamerasFromEnvironment(const char* text, std::vector<TestCameraSpec>& cameras,
                            std::string& error);
std::vector<TestCameraSpec> DefaultCameras();

// Matches the new list against the old one: a camera equal to one still unclaimed in the old list
// keeps its id, slot and listing time; the others get fresh ids, the lowest free slots and `now`.
std::vector<CameraEntry> ReplaceEntries(const std::vector<CameraEntry>& old,
                                        const std::vector<TestCameraSpec>& cameras,
                                        std::uint64_t& nextId,
                                        std::chrono::steady_clock::time_point now);

// The cameras listed now (thread-safe); the first call fills the list from the environment or
// the defaults.
std::vector<CameraEntry> CurrentCameras();
// Replaces the list and returns the cameras listed now (thread-safe).
std::vector<CameraEntry> SetCurrentCameras(const std::vector<TestCameraSpec>& cameras);
// When the next camera of the list is due to arrive or leave; nothing when none is (thread-safe).
std::optional<std::chrono::steady_clock::time_point> NextScheduledChange();

// The device node of the camera in `slot`: "/dev/stillwicktestcam<slot>".
std::string DevicePath(int slot);
// The camera listed now whose node is `path`.
std::optional<CameraEntry> CameraAt(const std::string& path);

}  // namespace testcam
