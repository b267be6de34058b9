#pragma once
// The sample grabber element: a pass-through video filter that never changes a frame, accepts
// only the one pixel format set on it, and hands every frame to a callback on the streaming
// thread. It can keep a copy of the last frame, and it reports the format it was linked with.
//
// Threads: the setters run on the main thread; the callback runs on the streaming thread. A
// frame whose work fails (no memory to repack it) ends the stream with an error message from
// the grabber. All functions take a borrowed element and do nothing (or fail) when it is not a
// grabber.

#include <gst/gst.h>

#include <cstdint>

#include "platform/GstRef.h"

namespace platform {

// The formats the grabber can be told to accept. None matches nothing, so a link fails.
enum class GrabberFormat { None, BGR, BGRx };

// One frame as the callback sees it. Rows run top-down and are packed like DIB rows: `stride`
// is the row length rounded up to 4 bytes, and `length` is stride * height. `data` is valid
// only during the call.
struct GrabberFrame {
  double sampleTime = 0;  // seconds of running time; 0 when the frame carries no time stamp
  const uint8_t* data = nullptr;
  int32_t length = 0;
  int32_t stride = 0;
  int32_t width = 0;
  int32_t height = 0;
};

// The grabber's callback, one of the doors from GStreamer's threads: runs on the streaming
// thread, once per frame, and must not throw, block on the main thread or touch a widget.
using GrabberCallback = void (*)(void* userData, const GrabberFrame& frame) noexcept;

// The negotiated format; stride as in GrabberFrame.
struct GrabberConnection {
  GrabberFormat format = GrabberFormat::None;
  int32_t width = 0;
  int32_t height = 0;
  int32_t stride = 0;
  int32_t fpsN = 0;
  int32_t fpsD = 1;
  int32_t parN = 1;
  int32_t parD = 1;
};

GType GrabberGetType();
bool IsGrabber(GstElement* element) noexcept;

// A new grabber that accepts nothing until a format is set.
GstRef<GstElement> GrabberCreate();

// Sets the accepted format. Set it before linking: links made earlier are not re-checked.
void GrabberSetFormat(GstElement* grabber, GrabberFormat format) noexcept;

// Replaces the callback (null: none). When it returns, no call of the previous callback is
// running any more, so its user data may go; the one exception is a call from inside the
// callback itself, which does not wait for itself. Must not be called while holding a lock
// that the callback takes.
void GrabberSetCallback(GstElement* grabber, GrabberCallback callback, void* userData) noexcept;

// Keeps (or stops keeping and drops) a copy of the last frame.
void GrabberSetBufferSamples(GstElement* grabber, bool keep) noexcept;
// Size of the kept frame in bytes; 0 when none is kept.
int32_t GrabberHeldFrameSize(GstElement* grabber) noexcept;
// Copies up to `capacity` bytes of the kept frame; returns the bytes copied, 0 when none.
int32_t GrabberCopyHeldFrame(GstElement* grabber, void* destination, int32_t capacity) noexcept;

// The format negotiated on the grabber's pads; false while it has none.
bool GrabberConnected(GstElement* grabber, GrabberConnection& connection) noexcept;

}  // namespace platform
