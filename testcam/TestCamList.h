#pragma once
// The list of cameras the provider offers, shared by every provider instance and probe.

#include <cstdint>
#include <string>
#include <vector>

#include "TestCam.h"

namespace testcam {

struct CameraEntry {
  std::uint64_t id = 0;  // stays the same while the camera stays in the list
  TestCameraSpec spec;
  std::string serial;  // the serial offered; empty when the camera has none
  int slot = 0;        // N of "/dev/stillwicktestcam<N>"
};

// The cameras used when no list was set from code: from STILLWICK_TESTCAM when it is set,
// otherwise the two default cameras. Returns false with a reason when the variable is malformed.
bool CamerasFromEnvironment(const char* text, std::vector<TestCameraSpec>& cameras,
                            std::string& error);
std::vector<TestCameraSpec> DefaultCameras();

// Matches the new list against the old one: a camera equal to one still unclaimed in the old list
// keeps its id and slot; the others get fresh ids and the lowest free slots.
std::vector<CameraEntry> ReplaceEntries(const std::vector<CameraEntry>& old,
                                        const std::vector<TestCameraSpec>& cameras,
                                        std::uint64_t& nextId);

// The current list (thread-safe); the first call fills it from the environment or the defaults.
std::vector<CameraEntry> CurrentCameras();
// Replaces the current list and returns the new one (thread-safe).
std::vector<CameraEntry> SetCurrentCameras(const std::vector<TestCameraSpec>& cameras);

// The device node of the camera in `slot`: "/dev/stillwicktestcam<slot>".
std::string DevicePath(int slot);
// The id of the camera whose node is `path` in the current list; 0 when there is none.
std::uint64_t CameraIdAt(const std::string& path);

}  // namespace testcam
