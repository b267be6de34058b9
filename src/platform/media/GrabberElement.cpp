#include "platform/media/GrabberElement.h"

#include <gst/video/gstvideofilter.h>
#include <gst/video/video.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <new>
#include <thread>
#include <utility>

#include "platform/media/Pipeline.h"
#include "platform/runtime/Diagnostics.h"
#include "platform/runtime/Threads.h"

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
  bool copyFrames = false;  // the source lends its buffers: hand out copies
  // When the last frame came in (steady clock, ns; 0: none yet). Written by the streaming
  // thread as each frame enters, read by the main thread's watch: one relaxed atomic, since
  // it orders nothing else.
  std::atomic<std::int64_t> lastFrameNs{0};
  bool connected = false;
  GrabberConnection connection;
  std::atomic<std::uint64_t> run{0};  // see GrabberElement::StreamRun

  // Guards the last frame kept for HeldFrame: a reference to its buffer, not a copy, so
  // keeping it costs nothing per frame. The streaming thread replaces it once per frame while
  // keepLast is on; any thread reads it.
  std::mutex heldLock;
  platform::VideoFrame held;
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

// Every convertible raw format, the picture's own first: a source that can deliver it as it is
// does, and its frames need no conversion.
GstCaps* AcceptedCaps(GrabberFormat format) {
  switch (format) {
    case GrabberFormat::BGR:
      return platform::ConvertibleVideoCaps().release();
    case GrabberFormat::BGRx: {
      GstCaps* caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGRx", nullptr);
      return gst_caps_merge(caps, platform::ConvertibleVideoCaps().release());
    }
    case GrabberFormat::None:
      break;
  }
  return gst_caps_new_empty();
}

int BitCountOf(GrabberFormat format) {
  return format == GrabberFormat::BGR ? 24 : 32;
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
  if (!platform::IsConvertibleFormat(GST_VIDEO_INFO_FORMAT(in)))
    return FALSE;
  GrabberConnection connection;
  connection.delivered = GST_VIDEO_INFO_FORMAT(in);
  connection.width = GST_VIDEO_INFO_WIDTH(in);
  connection.height = GST_VIDEO_INFO_HEIGHT(in);
  connection.fpsN = GST_VIDEO_INFO_FPS_N(in);
  connection.fpsD = GST_VIDEO_INFO_FPS_D(in);
  connection.parN = GST_VIDEO_INFO_PAR_N(in);
  connection.parD = GST_VIDEO_INFO_PAR_D(in);
  if (connection.width <= 0 || connection.height <= 0 ||
      connection.width > (std::numeric_limits<int32_t>::max() - 3) / 4 ||
      static_cast<int64_t>(PackedStride(connection.width, 4)) * connection.height >
          std::numeric_limits<int32_t>::max()) {
    return FALSE;
  }

  GrabberState& s = ReceiveState(filter);
  bool copyFrames = false;
  {
    std::lock_guard guard(s.lock);
    if (s.format == GrabberFormat::None)
      return FALSE;
    copyFrames = s.copyFrames;
    connection.format = s.format;
    connection.stride = PackedStride(connection.width, BitCountOf(s.format) / 8);
    connection.deliveredAsPicture =
        connection.delivered ==
            (s.format == GrabberFormat::BGR ? GST_VIDEO_FORMAT_BGR : GST_VIDEO_FORMAT_BGRx) &&
        GST_VIDEO_INFO_PLANE_STRIDE(in, 0) == connection.stride;
    s.connection = connection;
    s.connected = true;
  }
  // Set here, after the base class chose pass-through for equal caps: frames a source only
  // lends go on as copies in buffers of the grabber's own (TransformFrame_Streaming).
  gst_base_transform_set_passthrough(GST_BASE_TRANSFORM(filter), !copyFrames);
  gst_base_transform_set_in_place(GST_BASE_TRANSFORM(filter), !copyFrames);
  return TRUE;
}

// Upstream's buffers, asked for on the streaming thread while it negotiates: a pass-through
// element's query goes on to the elements after it, and the answer gets room for the frames the
// application holds besides. A source with a fixed set of buffers (a camera's driver) would
// otherwise run dry while a frozen picture, a save and the preview each hold one of them.
gboolean ProposeAllocation_Streaming(GstBaseTransform* trans, GstQuery* decide,
                                     GstQuery* query) noexcept {
  // Downstream's answer, if it gives one (a sink that proposes nothing fails the query).
  auto* parentClass = GST_BASE_TRANSFORM_CLASS(stillwick_grabber_parent_class);
  if (parentClass->propose_allocation)
    parentClass->propose_allocation(trans, decide, query);
  const guint pools = gst_query_get_n_allocation_pools(query);
  if (pools == 0) {
    GstCaps* caps = nullptr;
    gst_query_parse_allocation(query, &caps, nullptr);
    GstVideoInfo info;
    if (caps && gst_video_info_from_caps(&info, caps)) {
      gst_query_add_allocation_pool(query, nullptr, static_cast<guint>(info.size),
                                    platform::kGrabberFramesHeld, 0);
    }
    return TRUE;
  }
  for (guint i = 0; i < pools; ++i) {
    GstBufferPool* pool = nullptr;
    guint size = 0, min = 0, max = 0;
    gst_query_parse_nth_allocation_pool(query, i, &pool, &size, &min, &max);
    min += platform::kGrabberFramesHeld;
    if (max != 0 && max < min)
      max = min;
    gst_query_set_nth_allocation_pool(query, i, pool, size, min, max);
    if (pool)
      gst_object_unref(pool);
  }
  return TRUE;
}

// Every grabber's runs, counted together.
std::atomic<std::uint64_t> streamRuns{0};

// Runs on the thread that takes the element up to PAUSED, before any frame of the run.
gboolean Start(GstBaseTransform* trans) noexcept {
  StateOf(trans).run.store(streamRuns.fetch_add(1) + 1);
  return TRUE;
}

// Runs on the thread that takes the element down from PAUSED, once streaming through it has
// ended. The kept frame goes back to its source with the stream: held on, it would keep the
// device's buffer pool, and the device, open.
gboolean Stop(GstBaseTransform* trans) noexcept {
  GrabberState& s = StateOf(trans);
  {
    std::lock_guard guard(s.lock);
    s.connected = false;
  }
  platform::VideoFrame dropped;  // dropped after the lock, as in SetBufferSamples
  std::lock_guard guard(s.heldLock);
  dropped = std::exchange(s.held, platform::VideoFrame());
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

// Streaming thread: the frame's work, once it has been counted as started.
// Nothing is converted or copied: the frame is handed on as it came, and a reference is all
// that is kept.
void WorkOnFrame_Streaming(GrabberState& s, GstVideoFilter* filter, GstVideoFrame* frame,
                           GrabberCallback callback, void* userData, bool keepLast) {
  const auto* data = static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(frame, 0));
  const auto* mapStart = static_cast<const uint8_t*>(frame->map[0].data);
  const auto* mapEnd = mapStart + frame->map[0].size;
  if (!data || data < mapStart || data >= mapEnd)
    return;
  const platform::VideoFrame delivered(frame->buffer, frame->info);
  GrabberFrame handed;
  handed.sampleTime = SampleTime_Streaming(GST_BASE_TRANSFORM(filter), frame->buffer);
  handed.data = data;
  handed.length = static_cast<int32_t>(
      std::min<size_t>(static_cast<size_t>(mapEnd - data), std::numeric_limits<int32_t>::max()));
  handed.frame = &delivered;
  handed.run = s.run.load();
  if (keepLast) {
    std::lock_guard guard(s.heldLock);
    s.held = delivered;
  }
  if (callback)
    callback(userData, handed);
}

// Streaming thread: a frame whose work failed ends the stream with an error that names the grabber,
// as GStreamer expects of an element that returns a flow error; the graph then stops and tells the
// user once.
GstFlowReturn FrameFailed_Streaming(GstVideoFilter* filter, const char* why) noexcept {
  platform::LogLimited(platform::lcPlatform(), GST_OBJECT_NAME(filter),
                       QStringLiteral("frame failed: ") + QString::fromUtf8(why));
  GST_ELEMENT_ERROR(filter, CORE, FAILED, ("A video frame could not be handled"), ("%s", why));
  return GST_FLOW_ERROR;
}

// The grabber's side of its callback door: streaming thread, once per frame. The frame is
// mapped read-only: the grabber is pass-through and never writes to it. Nothing may unwind out
// of here into GStreamer's C frames, and every frame counted as started is counted as
// finished, or a setter waiting for it (SetCallback) would never return.
GstFlowReturn TransformFrameIp_Streaming(GstVideoFilter* filter, GstVideoFrame* frame) noexcept {
  GrabberState& s = ReceiveState(filter);
  s.lastFrameNs.store(std::chrono::steady_clock::now().time_since_epoch().count(),
                      std::memory_order_relaxed);
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

// Streaming thread, for a source that lends its buffers: the frame goes on as a copy in memory
// of our own, and that copy is the frame the application sees and may hold.
GstFlowReturn TransformFrame_Streaming(GstVideoFilter* filter, GstVideoFrame* in,
                                       GstVideoFrame* out) noexcept {
  if (!gst_video_frame_copy(out, in))
    return FrameFailed_Streaming(filter, "the frame could not be copied");
  return TransformFrameIp_Streaming(filter, out);
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
  const auto templateCaps = platform::ConvertibleVideoCaps();
  gst_element_class_add_pad_template(
      elementClass, gst_pad_template_new("sink", GST_PAD_SINK, GST_PAD_ALWAYS, templateCaps.get()));
  gst_element_class_add_pad_template(
      elementClass, gst_pad_template_new("src", GST_PAD_SRC, GST_PAD_ALWAYS, templateCaps.get()));

  auto* transformClass = GST_BASE_TRANSFORM_CLASS(klass);
  transformClass->transform_caps = TransformCaps;
  transformClass->propose_allocation = ProposeAllocation_Streaming;
  transformClass->start = Start;
  transformClass->stop = Stop;
  transformClass->passthrough_on_same_caps = TRUE;
  transformClass->transform_ip_on_passthrough = TRUE;

  auto* filterClass = GST_VIDEO_FILTER_CLASS(klass);
  filterClass->set_info = SetInfo_Streaming;
  filterClass->transform_frame_ip = TransformFrameIp_Streaming;
  filterClass->transform_frame = TransformFrame_Streaming;
}

}  // namespace

namespace platform {

bool IsGrabber(GstElement* element) noexcept {
  return element && G_TYPE_CHECK_INSTANCE_TYPE(element, stillwick_grabber_get_type());
}

GrabberElement::GrabberElement()
    : element_(GstRef<GstElement>::Adopt(
          static_cast<GstElement*>(g_object_new(stillwick_grabber_get_type(), nullptr)))) {}

GrabberElement::~GrabberElement() {
  if (!element_)
    return;
  SetCallback(nullptr, nullptr);
  SetBufferSamples(false);
}

void GrabberElement::SetFormat(GrabberFormat format) noexcept {
  g_return_if_fail(IsGrabber(element_.get()));
  GrabberState& s = StateOf(element_.get());
  std::lock_guard guard(s.lock);
  s.format = format;
}

void GrabberElement::SetCallback(GrabberCallback callback, void* userData) noexcept {
  g_return_if_fail(IsGrabber(element_.get()));
  GrabberState& s = StateOf(element_.get());
  std::unique_lock guard(s.lock);
  s.callback = callback;
  s.userData = userData;
  WaitForFrameInFlight(s, guard);
}

void GrabberElement::SetBufferSamples(bool keep) noexcept {
  g_return_if_fail(IsGrabber(element_.get()));
  GrabberState& s = StateOf(element_.get());
  {
    std::unique_lock guard(s.lock);
    s.keepLast = keep;
    if (keep)
      return;
    WaitForFrameInFlight(s, guard);
  }
  // Dropped outside the lock: the last reference may hand the buffer back to its pool.
  VideoFrame dropped;
  std::lock_guard guard(s.heldLock);
  dropped = std::exchange(s.held, VideoFrame());
}

VideoFrame GrabberElement::HeldFrame() const noexcept {
  g_return_val_if_fail(IsGrabber(element_.get()), VideoFrame());
  GrabberState& s = StateOf(element_.get());
  std::lock_guard guard(s.heldLock);
  return s.held;
}

void SetGrabberCopiesFrames(GstElement* element, bool copy) noexcept {
  g_return_if_fail(IsGrabber(element));
  GrabberState& s = StateOf(element);
  std::lock_guard guard(s.lock);
  s.copyFrames = copy;
}

std::optional<FrameArrivals> GrabberFrameArrivals(GstElement* pipeline) {
  for (const auto& element : Elements(pipeline)) {
    if (!IsGrabber(element.get()))
      continue;
    GrabberState& s = StateOf(element.get());
    FrameArrivals arrivals;
    if (const std::int64_t last = s.lastFrameNs.load(std::memory_order_relaxed)) {
      arrivals.last = std::chrono::steady_clock::time_point(std::chrono::nanoseconds(last));
    }
    std::lock_guard guard(s.lock);
    if (s.connected) {
      arrivals.fpsN = s.connection.fpsN;
      arrivals.fpsD = s.connection.fpsD;
    }
    return arrivals;
  }
  return std::nullopt;
}

std::uint64_t GrabberElement::StreamRun() const noexcept {
  g_return_val_if_fail(IsGrabber(element_.get()), 0);
  return StateOf(element_.get()).run.load();
}

bool GrabberElement::Connected(GrabberConnection& connection) const noexcept {
  g_return_val_if_fail(IsGrabber(element_.get()), false);
  GrabberState& s = StateOf(element_.get());
  std::lock_guard guard(s.lock);
  if (!s.connected)
    return false;
  connection = s.connection;
  return true;
}

}  // namespace platform
