#include "HarnessEnvironment.h"

#include <gst/gst.h>

#include <cstdlib>

#include "TestCam.h"
#include "platform/media/MediaInit.h"

namespace harness {

void PrepareEnvironment(const std::string& registryFile) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("GST_REGISTRY", registryFile.c_str(), 0);
  // Real cameras and desktop sound servers must stay out of results.
  setenv("GST_PLUGIN_FEATURE_RANK", "v4l2deviceprovider:NONE,pipewiredeviceprovider:NONE", 0);
}

void StartMedia(int& argc, char**& argv) {
  platform::InitializeMedia(argc, argv);
  // The variable above does not keep device providers out of a device monitor (with it set,
  // gst-device-monitor-1.0 still starts the PipeWire provider); their ranks, which the monitor
  // reads when it picks its providers, do.
  for (const char* provider : {"v4l2deviceprovider", "pipewiredeviceprovider"}) {
    if (GstPluginFeature* factory = gst_registry_lookup_feature(gst_registry_get(), provider)) {
      gst_plugin_feature_set_rank(factory, GST_RANK_NONE);
      gst_object_unref(factory);
    }
  }
  TestCamRegisterStatic();
  TestCamSetCameras({});
}

}  // namespace harness
