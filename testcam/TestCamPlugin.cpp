// Registration of the test camera, shared by the loadable plugin and the static one of the tests.

#include <mutex>

#include "TestCamTypes.h"

GST_DEBUG_CATEGORY(stillwick_testcam_debug);

namespace testcam {

gboolean PluginInit(GstPlugin* plugin) {
  GST_DEBUG_CATEGORY_INIT(stillwick_testcam_debug, "stillwicktestcam", 0, "Stillwick test camera");
  return gst_element_register(plugin, kElementName, GST_RANK_NONE, STILLWICK_TYPE_TEST_CAM) &&
         gst_device_provider_register(plugin, kProviderName, GST_RANK_PRIMARY,
                                      STILLWICK_TYPE_TEST_CAM_PROVIDER);
}

}  // namespace testcam

namespace {
gboolean StaticPluginInit(GstPlugin* plugin) {
  return testcam::PluginInit(plugin);
}
}  // namespace

bool TestCamRegisterStatic() {
  static std::once_flag once;
  static bool registered = false;
  std::call_once(once, [] {
    registered = gst_plugin_register_static(
        GST_VERSION_MAJOR, GST_VERSION_MINOR, testcam::kPluginName, testcam::kPluginDescription,
        StaticPluginInit, "0.1.0", testcam::kPluginLicense, "stillwick", testcam::kPluginPackage,
        testcam::kPluginOrigin);
  });
  return registered;
}
