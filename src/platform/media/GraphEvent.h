#pragma once
// What a pipeline's bus message means to the graph's listeners: an event code in the scheme
// the capture layer was designed around, and whether it stopped the stream. Main thread.

#include <gst/gst.h>

#include <string>

#include "platform/media/GstRef.h"

// Graph event codes, as IGraphListener::GraphEventReceived and OnDSEvent receive them. param1 is
// the GstMessage* the event came from (borrowed, valid only during the call); param2 is 0.
inline constexpr int EC_COMPLETE = 0x01;              // end of stream (of a live one: device gone)
inline constexpr int EC_ERRORABORT = 0x03;            // an error stopped the stream
inline constexpr int EC_PALETTE_CHANGED = 0x09;       // never posted here; the preview answers it
inline constexpr int EC_DEVICE_LOST = 0x1F;           // the source lost its device (unplugged)
inline constexpr int EC_VMR_RENDERDEVICE_SET = 0x53;  // never posted here; the preview answers it
inline constexpr int EC_GST_MESSAGE = 0x8000;         // + the message type, every other message

namespace platform {

// Why a stream stopped for good; None while it goes on. The user's sentence for each is made
// above this layer, from the reason and GStreamer's short text.
enum class StreamFailure {
  None,
  DeviceBusy,        // could not be opened: another program has it
  DeviceNotFound,    // could not be opened: its node is gone
  DeviceUnopenable,  // could not be opened otherwise (permissions, a failing open)
  DeviceLost,        // went away while streaming
  StreamEnded,       // a live stream ended, which a camera never does on its own
  NoFrames,          // a playing stream went quiet without a word: no frames came
  Other,             // any other error
};

struct GraphEvent {
  int code = 0;
  // An ERROR, or the end of a live stream: nothing more will come, the pipeline is to stop.
  StreamFailure failure = StreamFailure::None;
  bool StopsStream() const noexcept { return failure != StreamFailure::None; }
  // For an ERROR: GStreamer's short text, which the user reads; the element that posted it,
  // and everything GStreamer said (its short text and its debug text), for the developer's log.
  std::string message;
  std::string source;
  std::string detail;
  // A state change of the pipeline itself.
  bool pipelineStateChanged = false;
};

// `pipeline` is the graph the message came from. What a source element of the pipeline (one
// without sink pads) reports is read as the device speaking:
// - a device that could not be opened: a busy, missing or unopenable resource (v4l2src's
//   RESOURCE BUSY, NOT_FOUND and OPEN_* errors, raised as it opens and first sets a format);
// - a device that was lost: an error marked so by the source (a boolean "device-lost" in the
//   error details) or a resource read error; and end of stream from a pipeline with a live
//   source, since a camera never ends on its own.
// - a source gone quiet: the error SilentSourceMessage makes (no-frames in its details).
GraphEvent ClassifyMessage(GstMessage* message, GstElement* pipeline);

// The ERROR that stands for a playing source that sends no frames and says nothing of it (a
// camera unplugged behind PipeWire, a stuck start), from the pipeline's source element (the
// pipeline when it has none): that its device is busy when `nodeInUse` names the device node
// another program holds, else that no frames came.
GstRef<GstMessage> SilentSourceMessage(GstElement* pipeline, const std::string& nodeInUse);

}  // namespace platform
