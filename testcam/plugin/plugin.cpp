// The test camera as a loadable GStreamer plugin, for machines without a camera.

#include "TestCamTypes.h"

#define PACKAGE "stillwick"
#define PACKAGE_VERSION "0.1.0"

namespace {
gboolean plugin_init(GstPlugin* plugin) {
  return testcam::PluginInit(plugin);
}
}  // namespace

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, stillwicktestcam,
                  "Stillwick test camera and its device provider", plugin_init, PACKAGE_VERSION,
                  "LGPL", "Stillwick", "https://stillwick.invalid/")
