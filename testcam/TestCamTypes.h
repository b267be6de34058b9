#pragma once
// The test camera's GObject types and plugin entry, shared inside testcam/ only.

#include <gst/gst.h>

#include "TestCam.h"
#include "TestCamList.h"

GST_DEBUG_CATEGORY_EXTERN(stillwick_testcam_debug);

G_BEGIN_DECLS
#define STILLWICK_TYPE_TEST_CAM (stillwick_test_cam_get_type())
#define STILLWICK_TYPE_TEST_CAM_DEVICE (stillwick_test_cam_device_get_type())
#define STILLWICK_TYPE_TEST_CAM_PROVIDER (stillwick_test_cam_provider_get_type())
G_DECLARE_FINAL_TYPE(StillwickTestCam, stillwick_test_cam, STILLWICK, TEST_CAM, GstBin)
G_DECLARE_FINAL_TYPE(StillwickTestCamDevice, stillwick_test_cam_device, STILLWICK, TEST_CAM_DEVICE,
                     GstDevice)
G_DECLARE_FINAL_TYPE(StillwickTestCamProvider, stillwick_test_cam_provider, STILLWICK,
                     TEST_CAM_PROVIDER, GstDeviceProvider)
G_END_DECLS

namespace testcam {

inline constexpr char kElementName[] = "stillwicktestcam";
inline constexpr char kProviderName[] = "stillwickcameras";
inline constexpr char kPluginName[] = "stillwicktestcam";
inline constexpr char kPluginDescription[] = "Stillwick test camera and its device provider";
inline constexpr char kPluginLicense[] = "LGPL";
inline constexpr char kPluginPackage[] = "Stillwick";
inline constexpr char kPluginOrigin[] = "https://stillwick.invalid/";

// Registers the element and the device provider with a plugin, static or loaded.
gboolean PluginInit(GstPlugin* plugin);

// Caps a camera of these settings offers: one structure per mode, in its order.
GstCaps* CameraCaps(const TestCameraSpec& spec);

// Open cameras whose device is no longer among `entries` lose it, as unplugged ones do.
void UnplugCamerasNotIn(const std::vector<CameraEntry>& entries);

}  // namespace testcam
