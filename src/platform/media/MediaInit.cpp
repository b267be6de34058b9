#include "platform/media/MediaInit.h"

#include <gst/gst.h>

#include "platform/runtime/Threads.h"

namespace platform {

void InitializeMedia(int& argc, char**& argv) {
  AssertMainThread();
  // GStreamer 1.22's v4l2src "orphans" its buffer pool when it stops, and an orphaned pool
  // keeps its copy of the device's descriptor open until the program ends, even with every
  // buffer back: each start on the same device would leave one more open. Drained instead, the
  // pool goes once its buffers are back, which they are as the graph stops. Set before any
  // thread reads the environment; a value the user set stays.
  g_setenv("GST_V4L2_FORCE_DRAIN", "1", FALSE);
  gst_init(&argc, &argv);
}

}  // namespace platform
