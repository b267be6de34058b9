#pragma once
// What a pipeline's bus message means to the graph's listeners: an event code in the scheme
// the capture layer was designed around, and whether it stopped the stream. Main thread.

#include <gst/gst.h>

#include <string>

namespace platform {

constexpr int kEventComplete = 0x01;      // EOS
constexpr int kEventErrorAbort = 0x03;    // ERROR
constexpr int kEventDeviceLost = 0x1F;    // ERROR of a source whose device went away
constexpr int kEventGstMessage = 0x8000;  // + the message type, for every other message

struct GraphEvent {
  int code = 0;
  // An ERROR, or the end of a live stream: nothing more will come, the pipeline is to stop.
  bool stopsStream = false;
  // For those, the text the user reads.
  std::string errorText;
};

// `pipeline` is the graph the message came from. What a source element of the pipeline (one
// without sink pads) reports is read as the device speaking:
// - a device that could not be opened: a busy, missing or unopenable resource (v4l2src's
//   RESOURCE BUSY, NOT_FOUND and OPEN_* errors, raised as it opens and first sets a format);
// - a device that was lost: an error marked so by the source (a boolean "device-lost" in the
//   error details) or a resource read error; and end of stream from a pipeline with a live
//   source, since a camera never ends on its own.
GraphEvent ClassifyMessage(GstMessage* message, GstElement* pipeline);

}  // namespace platform
