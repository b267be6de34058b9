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
  // An ERROR: GStreamer expects the application to stop the pipeline.
  bool stopsStream = false;
  // For errors, the text the user reads.
  std::string errorText;
};

// `pipeline` is the graph the message came from.
GraphEvent ClassifyMessage(GstMessage* message, GstElement* pipeline);

// True for an ERROR saying that a source lost its device: either marked so by the source
// (a boolean "device-lost" in the error details) or a resource read, not-found or open error
// posted from inside a source element of `pipeline` (an element without sink pads).
bool IsDeviceLost(GstMessage* message, GstElement* pipeline);

}  // namespace platform
