#pragma once
// The sample grabber element: a pass-through video filter that never changes a frame and hands
// every frame to a callback on the streaming thread (or a copying one, for a source that only
// lends its buffers: SetGrabberCopiesFrames). It is set to the pixel format of the
// pictures its frames become (24- or 32-bit RGB); it accepts every raw format that can be
// converted to it, since a frame is converted only when its pixels are asked for (VideoFrame),
// never here. It can keep the last frame, and it reports the picture format it was linked for.
// It asks its source for enough buffers that the frames the application holds on to (the
// display picture, a picture being saved, the preview's frame) do not starve the source.
//
// Threads: the owner and its setters live on the main thread; the callback runs on the streaming
// thread. A frame whose work fails ends the stream with an error message from the grabber.

#include <gst/gst.h>

#include <chrono>
#include <cstdint>
#include <optional>

#include "platform/media/GstRef.h"
#include "platform/media/VideoFrame.h"

namespace platform {

// The picture formats the grabber can be set to. None accepts nothing, so a link fails.
enum class GrabberFormat { None, BGR, BGRx };

// One frame as the callback sees it: the frame as delivered, of which a reference may be kept,
// and the mapped bytes of its first plane, from `data` to the end of its memory (for a BGR or
// BGRx frame at DIB stride, exactly the rows of the picture). `data` is valid only during the
// call.
struct GrabberFrame {
  double sampleTime = 0;  // seconds of running time; 0 when the frame carries no time stamp
  const uint8_t* data = nullptr;
  int32_t length = 0;
  const VideoFrame* frame = nullptr;
  std::uint64_t run = 0;  // the stream the frame belongs to (GrabberElement::StreamRun)
};

// The grabber's callback, one of the doors from GStreamer's threads: runs on the streaming
// thread, once per frame, and must not throw, block on the main thread or touch a widget.
using GrabberCallback = void (*)(void* userData, const GrabberFrame& frame) noexcept;

// The negotiated link: the picture format the frames become, at the frames' size, with DIB
// rows (stride: the row length rounded up to 4 bytes), and the format the frames arrive in.
struct GrabberConnection {
  GrabberFormat format = GrabberFormat::None;
  GstVideoFormat delivered = GST_VIDEO_FORMAT_UNKNOWN;
  // The frames arrive as pictures already: in the picture format, with DIB rows.
  bool deliveredAsPicture = false;
  int32_t width = 0;
  int32_t height = 0;
  int32_t stride = 0;
  int32_t fpsN = 0;
  int32_t fpsD = 1;
  int32_t parN = 1;
  int32_t parD = 1;
};

// Whether `element` is a grabber.
bool IsGrabber(GstElement* element) noexcept;

// Makes the grabber `element` pass each frame on as a copy in memory of its own (recycled, a
// memcpy a frame) instead of passing it through: for a source that only lends its buffers.
// pipewiresrc's frames lie in PipeWire's memory, which PipeWire takes back when the stream's
// buffers go (an unplug, a stop), and a frame the display or the preview holds would then
// point at nothing. Set it before the stream starts.
void SetGrabberCopiesFrames(GstElement* element, bool copy) noexcept;

// When the grabber among `pipeline`'s own children last saw a frame enter (stamped on the
// streaming thread as each arrives, whoever takes it), and the frame rate it was linked for:
// what a watch on a source that goes quiet reads. Nothing when the pipeline holds no grabber.
struct FrameArrivals {
  std::optional<std::chrono::steady_clock::time_point> last;
  int32_t fpsN = 0;  // 0 while unlinked or when the rate is variable
  int32_t fpsD = 1;
};
std::optional<FrameArrivals> GrabberFrameArrivals(GstElement* pipeline);

// How many frames the application may hold on to at once, which the grabber asks its source to
// have buffers for on top of its own needs.
inline constexpr unsigned kGrabberFramesHeld = 3;

class GrabberElement {
 public:
  // A new grabber that accepts nothing until a format is set.
  GrabberElement();
  // Clears the callback (waiting for a frame still in it) and drops the kept frame, so nothing
  // of ours is called or held once the owner is gone, whoever else keeps the element.
  ~GrabberElement();
  GrabberElement(const GrabberElement&) = delete;
  GrabberElement& operator=(const GrabberElement&) = delete;

  // The element. Borrowed; this object keeps its reference.
  GstElement* Element() const noexcept { return element_.get(); }

  // Sets the picture format. Set it before linking: links made earlier are not re-checked.
  void SetFormat(GrabberFormat format) noexcept;
  // Replaces the callback (null: none). When it returns, no call of the previous callback is
  // running any more, so its user data may go; the one exception is a call from inside the
  // callback itself, which does not wait for itself. Must not be called while holding a lock
  // that the callback takes.
  void SetCallback(GrabberCallback callback, void* userData) noexcept;
  // Keeps (or stops keeping and drops) the last frame: a reference, not a copy. The kept frame
  // is dropped when the element stops (PAUSED to READY), so it never outlives the stream.
  void SetBufferSamples(bool keep) noexcept;
  // The kept frame; empty when none is kept. Any thread.
  VideoFrame HeldFrame() const noexcept;
  // The format negotiated on the grabber's pads; false while it has none. Any thread.
  bool Connected(GrabberConnection& connection) const noexcept;
  // The run of the stream through the element: every start (READY to PAUSED) of any grabber
  // takes a number of its own, so a run is never mistaken for an earlier one, of this grabber
  // or another. 0 before the first start. Any thread.
  std::uint64_t StreamRun() const noexcept;

 private:
  GstRef<GstElement> element_;
};

}  // namespace platform
