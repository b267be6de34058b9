#include "platform/GrabberElement.h"

#include <gst/video/gstvideofilter.h>
#include <gst/video/video.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "platform/Diagnostics.h"
#include "platform/Threads.h"

namespace {

using platform::GrabberCallback;
using platform::GrabberConnection;
using platform::GrabberFormat;
using platform::GrabberFrame;

struct GrabberState {
  // Guards the fields below, up to heldLock. Taken by the main thread in the setters and by
  // the streaming thread at the start and end of every frame. std::mutex rather than the
  // object lock: the race detector sees it.
  std::mutex lock;
  std::condition_variable frameFinished;
  GrabberFormat format = GrabberFormat::None;
  GrabberCallback callback = nullptr;
  void* userData = nullptr;
  // Frames whose work (copy kept, callback) has started and finished. One streaming thread
  // feeds a grabber, so at most one is in flight.
  uint64_t framesStarted = 0;
  uint64_t framesFinished = 0;
  std::thread::id frameThread;
  bool keepLast = false;
  bool connected = false;
  GrabberConnection connection;

  // Guards the last frame kept for GrabberCopyHeldFrame: a reference to its buffer, not a
  // copy, so keeping it costs nothing per frame. The streaming thread replaces it once per
  // frame while keepLast is on; any thread reads it.
  std::mutex heldLock;
  platform::GstRef<GstBuffer> heldBuffer;
  GstVideoInfo heldInfo{};
  int32_t heldLength = 0;

  // Streaming thread only: a frame whose rows are not at DIB stride, repacked. Kept from frame
  // to frame so its pages are reused.
  std::vector<uint8_t> packed;
};

struct StillwickGrabber {
  GstVideoFilter parent;
  GrabberState state;  // constructed in init, destroyed in finalize
};

struct StillwickGrabberClass {
  GstVideoFilterClass parent_class;
};

G_DEFINE_TYPE(StillwickGrabber, stillwick_grabber, GST_TYPE_VIDEO_FILTER)

// A new element reaches the streaming thread (often a pooled one that existed before it)
// through GStreamer's own locks, which the race detector cannot see: its construction
// announces the state (HappensBefore in init), and every use there receives it through this.
GrabberState& ReceiveState(gpointer grabber) noexcept {
  GrabberState& s = reinterpret_cast<StillwickGrabber*>(grabber)->state;
  platform::HappensAfter(&s);
  return s;
}

GrabberState& StateOf(gpointer grabber) {
  return reinterpret_cast<StillwickGrabber*>(grabber)->state;
}

GstCaps* AcceptedCaps(GrabberFormat format) {
  switch (format) {
    case GrabberFormat::BGR:
      return gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGR", nullptr);
    case GrabberFormat::BGRx:
      return gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGRx", nullptr);
    case GrabberFormat::None:
      break;
  }
  return gst_caps_new_empty();
}

GrabberFormat FormatOf(GstVideoFormat format) {
  switch (format) {
    case GST_VIDEO_FORMAT_BGR:
      return GrabberFormat::BGR;
    case GST_VIDEO_FORMAT_BGRx:
      return GrabberFormat::BGRx;
    default:
      return GrabberFormat::None;
  }
}

int32_t PackedStride(int32_t width, int32_t pixelBytes) {
  return GST_ROUND_UP_4(width * pixelBytes);
}

// Both pads carry the same caps, so either direction is the caps given, narrowed to the one
// format set on the grabber. Runs on whichever thread asks for caps: the streaming thread while
// negotiating, the main thread while linking.
GstCaps* TransformCaps(GstBaseTransform* trans, GstPadDirection, GstCaps* caps,
                       GstCaps* filter) noexcept {
  GrabberFormat format;
  {
    GrabberState& s = ReceiveState(trans);
    std::lock_guard guard(s.lock);
    format = s.format;
  }
  auto accepted = platform::GstRef<GstCaps>::Adopt(AcceptedCaps(format));
  GstCaps* result = gst_caps_intersect_full(caps, accepted.get(), GST_CAPS_INTERSECT_FIRST);
  if (filter) {
    GstCaps* filtered = gst_caps_intersect_full(filter, result, GST_CAPS_INTERSECT_FIRST);
    gst_caps_unref(result);
    result = filtered;
  }
  return result;
}

// Streaming thread: the negotiated format arrives with the stream.
gboolean SetInfo_Streaming(GstVideoFilter* filter, GstCaps*, GstVideoInfo* in, GstCaps*,
                           GstVideoInfo*) noexcept {
  const GrabberFormat format = FormatOf(GST_VIDEO_INFO_FORMAT(in));
  if (format == GrabberFormat::None)
    return FALSE;
  GrabberConnection connection;
  connection.format = format;
  connection.width = GST_VIDEO_INFO_WIDTH(in);
  connection.height = GST_VIDEO_INFO_HEIGHT(in);
  connection.stride = PackedStride(connection.width, GST_VIDEO_INFO_COMP_PSTRIDE(in, 0));
  connection.fpsN = GST_VIDEO_INFO_FPS_N(in);
  connection.fpsD = GST_VIDEO_INFO_FPS_D(in);
  connection.parN = GST_VIDEO_INFO_PAR_N(in);
  connection.parD = GST_VIDEO_INFO_PAR_D(in);

  GrabberState& s = ReceiveState(filter);
  std::lock_guard guard(s.lock);
  s.connection = connection;
  s.connected = true;
  return TRUE;
}

// Runs on the thread that takes the element down from PAUSED (the main thread, as a rule).
gboolean Stop(GstBaseTransform* trans) noexcept {
  GrabberState& s = StateOf(trans);
  std::lock_guard guard(s.lock);
  s.connected = false;
  return TRUE;
}

// Streaming thread.
double SampleTime_Streaming(GstBaseTransform* trans, GstBuffer* buffer) noexcept {
  GstClockTime time = GST_BUFFER_PTS(buffer);
  if (!GST_CLOCK_TIME_IS_VALID(time))
    return 0;
  const GstClockTime running = gst_segment_to_running_time(&trans->segment, GST_FORMAT_TIME, time);
  if (GST_CLOCK_TIME_IS_VALID(running))
    time = running;
  return static_cast<double>(time) / GST_SECOND;
}

// Copies rows at `stride` into rows at `packedStride` with zeroed padding, as far as
// `capacity` bytes reach. Returns the bytes written.
size_t PackRows(const uint8_t* data, int32_t stride, size_t rowBytes, int32_t packedStride,
                int32_t height, uint8_t* target, size_t capacity) {
  size_t written = 0;
  for (int32_t y = 0; y < height && written < capacity; ++y) {
    uint8_t* row = target + written;
    const size_t rowSpace = std::min(static_cast<size_t>(packedStride), capacity - written);
    const size_t copied = std::min(rowBytes, rowSpace);
    std::memcpy(row, data + static_cast<size_t>(y) * static_cast<size_t>(stride), copied);
    std::memset(row + copied, 0, rowSpace - copied);
    written += rowSpace;
  }
  return written;
}

// Streaming thread. The frame's first plane as DIB rows: the mapped memory itself when its
// stride already is the DIB stride (the usual case), else a repacked copy (which may fail to
// allocate). False for a frame too short for its own geometry.
bool PackFrame_Streaming(GrabberState& s, const GstVideoFrame* frame, GrabberFrame& out) {
  const int32_t width = GST_VIDEO_FRAME_WIDTH(frame);
  const int32_t height = GST_VIDEO_FRAME_HEIGHT(frame);
  const int32_t pixelBytes = GST_VIDEO_FRAME_COMP_PSTRIDE(frame, 0);
  const int32_t stride = GST_VIDEO_FRAME_PLANE_STRIDE(frame, 0);
  const auto* data = static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(frame, 0));
  if (width <= 0 || height <= 0 || pixelBytes <= 0 || !data)
    return false;
  if (width > (std::numeric_limits<int32_t>::max() - 3) / pixelBytes)
    return false;

  const size_t rowBytes = static_cast<size_t>(width) * static_cast<size_t>(pixelBytes);
  const int32_t packedStride = PackedStride(width, pixelBytes);
  const size_t length = static_cast<size_t>(packedStride) * static_cast<size_t>(height);
  if (length > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
    return false;
  const auto* mapEnd = static_cast<const uint8_t*>(frame->map[0].data) + frame->map[0].size;
  if (data > mapEnd || stride < 0 || static_cast<size_t>(stride) < rowBytes)
    return false;
  const size_t available = static_cast<size_t>(mapEnd - data);

  out.width = width;
  out.height = height;
  out.stride = packedStride;
  out.length = static_cast<int32_t>(length);
  if (stride == packedStride && available >= length) {
    out.data = data;
    return true;
  }
  if (available < static_cast<size_t>(stride) * static_cast<size_t>(height - 1) + rowBytes) {
    return false;
  }
  s.packed.resize(length);
  PackRows(data, stride, rowBytes, packedStride, height, s.packed.data(), length);
  out.data = s.packed.data();
  return true;
}

// Streaming thread: the frame's work, once it has been counted as started.
void WorkOnFrame_Streaming(GrabberState& s, GstVideoFilter* filter, GstVideoFrame* frame,
                           GrabberCallback callback, void* userData, bool keepLast) {
  GrabberFrame packed;
  if (!PackFrame_Streaming(s, frame, packed))
    return;
  packed.sampleTime = SampleTime_Streaming(GST_BASE_TRANSFORM(filter), frame->buffer);
  if (keepLast) {
    std::lock_guard guard(s.heldLock);
    s.heldBuffer = platform::GstRef<GstBuffer>::Retain(frame->buffer);
    s.heldInfo = frame->info;
    s.heldLength = packed.length;
  }
  if (callback)
    callback(userData, packed);
}

// Streaming thread: a frame whose work failed (a repack buffer that could not be allocated)
// ends the stream with an error that names the grabber, as GStreamer expects of an element
// that returns a flow error; the graph then stops and tells the user once.
GstFlowReturn FrameFailed_Streaming(GstVideoFilter* filter, const char* why) noexcept {
  platform::LogLimited(platform::lcPlatform(), GST_OBJECT_NAME(filter),
                       QStringLiteral("frame failed: ") + QString::fromUtf8(why));
  GST_ELEMENT_ERROR(filter, CORE, FAILED, ("A video frame could not be handled"), ("%s", why));
  return GST_FLOW_ERROR;
}

// The grabber's side of its callback door: streaming thread, once per frame. The frame is
// mapped read-only: the grabber is pass-through and never writes to it. Nothing may unwind out
// of here into GStreamer's C frames, and every frame counted as started is counted as
// finished, or a setter waiting for it (GrabberSetCallback) would never return.
GstFlowReturn TransformFrameIp_Streaming(GstVideoFilter* filter, GstVideoFrame* frame) noexcept {
  GrabberState& s = ReceiveState(filter);
  GrabberCallback callback;
  void* userData;
  bool keepLast;
  {
    std::lock_guard guard(s.lock);
    callback = s.callback;
    userData = s.userData;
    keepLast = s.keepLast;
    if (!callback && !keepLast)
      return GST_FLOW_OK;
    ++s.framesStarted;
    s.frameThread = std::this_thread::get_id();
  }

  GstFlowReturn result = GST_FLOW_OK;
  try {
    WorkOnFrame_Streaming(s, filter, frame, callback, userData, keepLast);
  } catch (const std::exception& e) {
    result = FrameFailed_Streaming(filter, e.what());
  } catch (...) {
    result = FrameFailed_Streaming(filter, "unknown error");
  }

  std::lock_guard guard(s.lock);
  ++s.framesFinished;
  s.frameThread = std::thread::id();
  // Under the lock, so that nothing of this frame follows the unlock that Finalize pairs with.
  s.frameFinished.notify_all();
  return result;
}

// After a setting changed, waits until the frame that may have read the old one is done:
// that one frame, not a pause of the stream, which a steady stream never makes. A call from
// inside that frame's callback does not wait for itself.
void WaitForFrameInFlight(GrabberState& s, std::unique_lock<std::mutex>& guard) {
  const uint64_t inFlight = s.framesStarted;
  if (s.framesFinished < inFlight && s.frameThread == std::this_thread::get_id())
    return;
  s.frameFinished.wait(guard, [&] { return s.framesFinished >= inFlight; });
}

void Finalize(GObject* object) {
  GrabberState& s = StateOf(object);
  {
    // The streaming thread's last frame ended with an unlock of these; taking them here makes
    // its writes visible before the memory goes.
    std::scoped_lock fence(s.lock, s.heldLock);
  }
  s.~GrabberState();
  G_OBJECT_CLASS(stillwick_grabber_parent_class)->finalize(object);
}

void stillwick_grabber_init(StillwickGrabber* self) {
  new (&self->state) GrabberState();
  platform::HappensBefore(&self->state);
  auto* trans = GST_BASE_TRANSFORM(self);
  gst_base_transform_set_passthrough(trans, TRUE);
  gst_base_transform_set_in_place(trans, TRUE);
}

void stillwick_grabber_class_init(StillwickGrabberClass* klass) {
  G_OBJECT_CLASS(klass)->finalize = Finalize;

  auto* elementClass = GST_ELEMENT_CLASS(klass);
  gst_element_class_set_static_metadata(elementClass, "Stillwick frame grabber", "Filter/Video",
                                        "Hands every frame to the application unchanged",
                                        "Stillwick developers <stillwick@localhost>");
  auto templateCaps =
      platform::GstRef<GstCaps>::Adopt(gst_caps_from_string(GST_VIDEO_CAPS_MAKE("{ BGR, BGRx }")));
  gst_element_class_add_pad_template(
      elementClass, gst_pad_template_new("sink", GST_PAD_SINK, GST_PAD_ALWAYS, templateCaps.get()));
  gst_element_class_add_pad_template(
      elementClass, gst_pad_template_new("src", GST_PAD_SRC, GST_PAD_ALWAYS, templateCaps.get()));

  auto* transformClass = GST_BASE_TRANSFORM_CLASS(klass);
  transformClass->transform_caps = TransformCaps;
  transformClass->stop = Stop;
  transformClass->passthrough_on_same_caps = TRUE;
  transformClass->transform_ip_on_passthrough = TRUE;

  auto* filterClass = GST_VIDEO_FILTER_CLASS(klass);
  filterClass->set_info = SetInfo_Streaming;
  filterClass->transform_frame_ip = TransformFrameIp_Streaming;
}

}  // namespace

namespace platform {

GType GrabberGetType() {
  return stillwick_grabber_get_type();
}

bool IsGrabber(GstElement* element) noexcept {
  return element && G_TYPE_CHECK_INSTANCE_TYPE(element, GrabberGetType());
}

GstRef<GstElement> GrabberCreate() {
  return GstRef<GstElement>::Adopt(
      static_cast<GstElement*>(g_object_new(GrabberGetType(), nullptr)));
}

void GrabberSetFormat(GstElement* grabber, GrabberFormat format) noexcept {
  if (!IsGrabber(grabber))
    return;
  GrabberState& s = StateOf(grabber);
  std::lock_guard guard(s.lock);
  s.format = format;
}

void GrabberSetCallback(GstElement* grabber, GrabberCallback callback, void* userData) noexcept {
  if (!IsGrabber(grabber))
    return;
  GrabberState& s = StateOf(grabber);
  std::unique_lock guard(s.lock);
  s.callback = callback;
  s.userData = userData;
  WaitForFrameInFlight(s, guard);
}

void GrabberSetBufferSamples(GstElement* grabber, bool keep) noexcept {
  if (!IsGrabber(grabber))
    return;
  GrabberState& s = StateOf(grabber);
  {
    std::unique_lock guard(s.lock);
    s.keepLast = keep;
    if (keep)
      return;
    WaitForFrameInFlight(s, guard);
  }
  std::lock_guard guard(s.heldLock);
  s.heldBuffer.reset();
  s.heldLength = 0;
}

int32_t GrabberHeldFrameSize(GstElement* grabber) noexcept {
  if (!IsGrabber(grabber))
    return 0;
  GrabberState& s = StateOf(grabber);
  std::lock_guard guard(s.heldLock);
  return s.heldBuffer ? s.heldLength : 0;
}

int32_t GrabberCopyHeldFrame(GstElement* grabber, void* destination, int32_t capacity) noexcept {
  if (!IsGrabber(grabber) || !destination || capacity <= 0)
    return 0;
  GrabberState& s = StateOf(grabber);
  std::lock_guard guard(s.heldLock);
  if (!s.heldBuffer)
    return 0;
  GstVideoFrame frame;
  if (!gst_video_frame_map(&frame, &s.heldInfo, s.heldBuffer.get(), GST_MAP_READ))
    return 0;
  const int32_t width = GST_VIDEO_FRAME_WIDTH(&frame);
  const int32_t pixelBytes = GST_VIDEO_FRAME_COMP_PSTRIDE(&frame, 0);
  const size_t n = PackRows(
      static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)),
      GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0),
      static_cast<size_t>(width) * static_cast<size_t>(pixelBytes), PackedStride(width, pixelBytes),
      GST_VIDEO_FRAME_HEIGHT(&frame), static_cast<uint8_t*>(destination),
      std::min(static_cast<size_t>(capacity), static_cast<size_t>(s.heldLength)));
  gst_video_frame_unmap(&frame);
  return static_cast<int32_t>(n);
}

bool GrabberConnected(GstElement* grabber, GrabberConnection& connection) noexcept {
  if (!IsGrabber(grabber))
    return false;
  GrabberState& s = StateOf(grabber);
  std::lock_guard guard(s.lock);
  if (!s.connected)
    return false;
  connection = s.connection;
  return true;
}

}  // namespace platform
