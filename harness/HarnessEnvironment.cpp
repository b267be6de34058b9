#include "HarnessEnvironment.h"

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
  TestCamRegisterStatic();
  TestCamSetCameras({});
}

}  // namespace harness
