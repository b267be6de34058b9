#include "platform/media/MediaInit.h"

#include <gst/gst.h>

#include "platform/runtime/Threads.h"

namespace platform {

void InitializeMedia(int& argc, char**& argv) {
  AssertMainThread();
  gst_init(&argc, &argv);
}

}  // namespace platform
