#pragma once
// A camera of the list as a GstDevice.

#include <cstdint>

#include "TestCamList.h"
#include "TestCamTypes.h"

namespace testcam {

// A new floating device for the camera.
GstDevice* NewCameraDevice(const CameraEntry& entry);
// The camera's id in the list, 0 for devices of other providers.
std::uint64_t CameraDeviceId(GstDevice* device);

}  // namespace testcam
