// The "stillwicktestcam" element: a live test picture behind a caps filter (and a JPEG encoder
// for MJPEG modes), shown to the outside as one source pad that offers all the camera's modes.
// It fails to open as a busy or missing device does, and can play a device that goes away:
// after a set number of frames, or when its camera leaves the list, it stops delivering and
// ends with the device-lost error or with end of stream.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <iterator>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "TestCamControls.h"
#include "TestCamModes.h"
#include "TestCamTypes.h"

#define GST_CAT_DEFAULT stillwick_testcam_debug

namespace {

enum {
  PROP_0,
  PROP_WIDTH,
  PROP_HEIGHT,
  PROP_FRAMERATE,
  PROP_FORMAT,
  PROP_MODES,
  PROP_PATTERN,
  PROP_SERIAL,
  PROP_DEVICE_NAME,
  PROP_DEVICE,
  PROP_OPEN_ERROR,
  PROP_FAIL_AFTER_FRAMES,
  PROP_END,
  PROP_BRIGHTNESS,
  PROP_COLOR_EFFECTS,
  PROP_MODES_HIDDEN,
  PROP_START_DELAY,
};

constexpr int kDefaultWidth = 640;
constexpr int kDefaultHeight = 480;
constexpr int kDefaultFps = 30;
constexpr char kDefaultFormat[] = "YUY2";
constexpr char kDefaultPattern[] = "smpte";
constexpr char kDefaultEnd[] = "error";
// How a camera whose device went away ends; kEnds[0] is the default.
constexpr const char* kEnds[] = {kDefaultEnd, "eos", "silent"};
enum End { kEndError, kEndEos, kEndSilent };

GstStaticPadTemplate src_template = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("video/x-raw, format=(string){ YUY2, NV12, I420, GRAY8, BGR }; image/jpeg"));

// The chain's elements are owned by the bin; these are borrowed pointers.
struct Chain {
  GstElement* source = nullptr;
  GstElement* rawFilter = nullptr;
  GstElement* encoder = nullptr;     // while the camera delivers MJPEG
  GstElement* jpegFilter = nullptr;  // while the camera delivers MJPEG
};

struct Settings {
  int width = kDefaultWidth;
  int height = kDefaultHeight;
  int fps = kDefaultFps;
  std::string format = kDefaultFormat;
  std::string modes;  // empty: the one mode of the fields above
  std::string pattern = kDefaultPattern;
  std::string serial;
  std::string deviceName;
  std::string device;     // the device node; empty: a camera made without a device
  std::string openError;  // "", "busy" or "not-found"

  std::vector<testcam::Mode> Modes() const {
    TestCameraSpec spec;
    spec.width = width;
    spec.height = height;
    spec.fps = fps;
    spec.format = format;
    spec.modes = modes;
    return testcam::CameraModes(spec);
  }
};

struct CameraState {
  // Guards settings and chain; taken by whichever thread sets or reads properties (the main
  // thread in practice), by state changes and, briefly, by caps queries from any thread.
  std::mutex mutex;
  Settings settings;
  Chain chain;
  bool chainBroken = false;  // an element of the chain could not be made

  // Read by the streaming thread for every buffer.
  std::atomic<int> failAfterFrames{-1};
  std::atomic<int> end{0};  // an index into kEnds
  // Read by caps queries and state changes, from any thread.
  std::atomic<bool> modesHidden{false};
  std::atomic<int> startDelayMs{0};
  std::atomic<long long> delivered{0};
  std::atomic<bool> ended{false};
  // Set when the camera leaves the list while open (any thread), read by the streaming thread.
  std::atomic<bool> unplugged{false};
  // When the open camera is due to leave the list (steady clock, ns); set at open.
  std::atomic<std::int64_t> leavesAtNs{std::numeric_limits<std::int64_t>::max()};

  // The controls of a camera made without a device node; under `mutex`.
  std::shared_ptr<testcam::Controls> ownControls = std::make_shared<testcam::Controls>();
  // The controls the open camera applies to its frames (its camera's); under `mutex`.
  std::shared_ptr<testcam::Controls> openControls;
  // The count of the camera's buffers still out (TestCamBuffersOut); set as streaming starts.
  std::atomic<std::atomic<int>*> buffersOut{nullptr};
};

GType ColorEffectsType() {
  static const GEnumValue values[] = {
      {testcam::kEffectNone, "None", "none"},
      {testcam::kEffectBlackAndWhite, "Black & White", "bw"},
      {testcam::kEffectNegative, "Negative", "negative"},
      {0, nullptr, nullptr},
  };
  static const GType type = g_enum_register_static("StillwickTestCamColorEffects", values);
  return type;
}

// One count per camera name, kept for the process: a buffer may outlive its camera.
std::atomic<int>& BuffersOutOf(const std::string& name) {
  static std::mutex lock;
  static std::map<std::string, std::atomic<int>> counts;
  std::lock_guard guard(lock);
  return counts[name];
}

// The mark a pushed buffer carries: it counts the buffer out, and back in when a pool resets the
// buffer (pools drop marks that are not theirs) or the buffer is freed. Never copied.
struct OutMark {
  GstMeta meta;
  std::atomic<int>* count;
};

gboolean OutMarkInit(GstMeta* meta, gpointer, GstBuffer*) {
  reinterpret_cast<OutMark*>(meta)->count = nullptr;
  return TRUE;
}

void OutMarkFree(GstMeta* meta, GstBuffer*) {
  if (std::atomic<int>* count = reinterpret_cast<OutMark*>(meta)->count)
    count->fetch_sub(1);
}

const GstMetaInfo* OutMarkInfo() {
  static const GstMetaInfo* info = [] {
    static const gchar* tags[] = {nullptr};
    const GType api = gst_meta_api_type_register("StillwickTestCamOutMarkAPI", tags);
    return gst_meta_register(api, "StillwickTestCamOutMark", sizeof(OutMark), OutMarkInit,
                             OutMarkFree, nullptr);
  }();
  return info;
}

// Streaming thread: marks the buffer leaving the camera.
void MarkOut_Streaming(GstPadProbeInfo* info, std::atomic<int>* count) {
  if (!count)
    return;
  GstBuffer* buffer = gst_buffer_make_writable(GST_PAD_PROBE_INFO_BUFFER(info));
  GST_PAD_PROBE_INFO_DATA(info) = buffer;
  if (auto* mark =
          reinterpret_cast<OutMark*>(gst_buffer_add_meta(buffer, OutMarkInfo(), nullptr))) {
    mark->count = count;
    count->fetch_add(1);
  }
}

}  // namespace

struct _StillwickTestCam {
  GstBin parent;
  GstPad* srcPad;  // the ghost pad, owned by the element
  CameraState state;
};

G_DEFINE_TYPE(StillwickTestCam, stillwick_test_cam, GST_TYPE_BIN)

namespace {

// The cameras that are open (READY or above) with a device node, and the id each was opened
// as. Guarded by its mutex, taken by state changes (any thread) and by list changes (main
// thread); the camera list's own lock may be taken inside it, never the other way round.
struct OpenCameras {
  std::mutex mutex;
  std::vector<std::pair<StillwickTestCam*, std::uint64_t>> open;
};

OpenCameras& Open() {
  static OpenCameras cameras;
  return cameras;
}

void Unregister(StillwickTestCam* self) {
  std::lock_guard lock(Open().mutex);
  auto& open = Open().open;
  open.erase(
      std::remove_if(open.begin(), open.end(), [&](const auto& o) { return o.first == self; }),
      open.end());
}

void SetCaps(GstElement* filter, GstCaps* caps) {
  g_object_set(filter, "caps", caps, nullptr);
  gst_caps_unref(caps);
}

// Takes an element of the chain out of the bin for good.
void Discard(StillwickTestCam* self, GstElement* element) {
  gst_element_set_state(element, GST_STATE_NULL);
  gst_bin_remove(GST_BIN(self), element);
}

// Brings the inner chain in line with the settings, delivering the MJPEG modes (through the
// encoder) or the raw ones. Called with state.mutex held, while nothing streams.
void ApplySettingsLocked(StillwickTestCam* self, bool compressed) {
  CameraState& st = self->state;
  Chain& c = st.chain;
  const std::vector<testcam::Mode> modes = st.settings.Modes();

  gst_util_set_object_arg(G_OBJECT(c.source), "pattern", st.settings.pattern.c_str());
  SetCaps(c.rawFilter,
          compressed ? testcam::EncoderInputCaps(modes) : testcam::ModesCaps(modes, false));

  // The ghost pad holds the last element's source pad; free it before the chain changes.
  if (compressed != (c.encoder != nullptr)) {
    gst_ghost_pad_set_target(GST_GHOST_PAD(self->srcPad), nullptr);
  }
  if (!compressed && c.encoder) {
    gst_element_unlink_many(c.rawFilter, c.encoder, c.jpegFilter, nullptr);
    Discard(self, c.encoder);
    Discard(self, c.jpegFilter);
    c.encoder = c.jpegFilter = nullptr;
  }
  if (compressed && !c.encoder) {
    GstElement* encoder = gst_element_factory_make("jpegenc", nullptr);
    GstElement* jpegFilter = gst_element_factory_make("capsfilter", nullptr);
    if (!encoder || !jpegFilter) {
      if (encoder)
        gst_object_unref(gst_object_ref_sink(encoder));
      if (jpegFilter)
        gst_object_unref(gst_object_ref_sink(jpegFilter));
      st.chainBroken = true;
      return;
    }
    gst_bin_add_many(GST_BIN(self), encoder, jpegFilter, nullptr);
    if (!gst_element_link_many(c.rawFilter, encoder, jpegFilter, nullptr)) {
      GST_ERROR_OBJECT(self, "could not link the JPEG encoder");
    }
    c.encoder = encoder;
    c.jpegFilter = jpegFilter;
  }
  st.chainBroken = false;
  if (c.jpegFilter)
    SetCaps(c.jpegFilter, testcam::ModesCaps(modes, true));

  GstElement* last = c.jpegFilter ? c.jpegFilter : c.rawFilter;
  GstPad* target = gst_element_get_static_pad(last, "src");
  gst_ghost_pad_set_target(GST_GHOST_PAD(self->srcPad), target);
  gst_object_unref(target);
}

std::vector<testcam::Mode> CurrentModes(StillwickTestCam* self) {
  std::lock_guard lock(self->state.mutex);
  return self->state.settings.Modes();
}

// Before streaming: the first of the camera's modes that downstream accepts decides whether
// the chain delivers MJPEG or raw pictures, as a real device streams the format it is set to.
void ChooseChain(StillwickTestCam* self) {
  const std::vector<testcam::Mode> modes = CurrentModes(self);
  GstCaps* all = testcam::ModesCaps(modes);
  GstCaps* accepted = gst_pad_peer_query_caps(self->srcPad, all);
  gst_caps_unref(all);
  bool compressed = modes.front().Compressed();
  for (const testcam::Mode& mode : modes) {
    GstCaps* one = testcam::ModesCaps({mode});
    const bool fits = gst_caps_can_intersect(one, accepted);
    gst_caps_unref(one);
    if (fits) {
      compressed = mode.Compressed();
      break;
    }
  }
  gst_caps_unref(accepted);
  std::lock_guard lock(self->state.mutex);
  ApplySettingsLocked(self, compressed);
}

bool StreamingStarted(StillwickTestCam* self) {
  GST_OBJECT_LOCK(self);
  const bool started =
      GST_STATE(self) > GST_STATE_READY || GST_STATE_PENDING(self) > GST_STATE_READY;
  GST_OBJECT_UNLOCK(self);
  return started;
}

// The device node as error texts name it.
std::string NodeName(StillwickTestCam* self) {
  std::lock_guard lock(self->state.mutex);
  if (!self->state.settings.device.empty())
    return self->state.settings.device;
  return GST_OBJECT_NAME(self);
}

std::int64_t NanosecondsOf(std::chrono::steady_clock::time_point time) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch()).count();
}

// NULL -> READY: a missing node fails as v4l2src's open does; an open camera with a node is
// registered, so that its leaving the list can unplug it.
bool OpenDevice(StillwickTestCam* self) {
  std::string device, openError;
  {
    std::lock_guard lock(self->state.mutex);
    device = self->state.settings.device;
    openError = self->state.settings.openError;
  }
  std::lock_guard lock(Open().mutex);
  const std::optional<testcam::CameraEntry> camera =
      device.empty() ? std::nullopt : testcam::CameraAt(device);
  if (openError == "not-found" || (!device.empty() && !camera)) {
    GST_ELEMENT_ERROR(self, RESOURCE, NOT_FOUND,
                      ("Cannot identify device '%s'.", NodeName(self).c_str()),
                      ("system error: No such file or directory"));
    return false;
  }
  self->state.unplugged = false;
  self->state.leavesAtNs = std::numeric_limits<std::int64_t>::max();
  {
    std::lock_guard controlsLock(self->state.mutex);
    self->state.openControls = camera ? testcam::ControlsOf(camera->id) : self->state.ownControls;
  }
  if (camera) {
    Open().open.emplace_back(self, camera->id);
    if (camera->spec.leaveAfterMs >= 0)
      self->state.leavesAtNs = NanosecondsOf(camera->LeavesAt());
  }
  return true;
}

// Runs on the streaming thread for every buffer leaving the camera.
GstPadProbeReturn CountBuffer_Streaming(GstPad* pad, GstPadProbeInfo* info,
                                        gpointer data) noexcept {
  auto* self = static_cast<StillwickTestCam*>(data);
  CameraState& st = self->state;
  if (st.ended.load())
    return GST_PAD_PROBE_DROP;
  const int limit = st.failAfterFrames.load();
  const bool gone = st.unplugged.load() ||
                    NanosecondsOf(std::chrono::steady_clock::now()) >= st.leavesAtNs.load() ||
                    (limit >= 0 && st.delivered.fetch_add(1) >= limit);
  if (!gone) {
    MarkOut_Streaming(info, st.buffersOut.load());
    return GST_PAD_PROBE_OK;
  }
  if (!st.ended.exchange(true)) {
    if (st.end.load() == kEndEos) {
      gst_pad_push_event(pad, gst_event_new_eos());
    } else if (st.end.load() == kEndError) {
      GST_ELEMENT_ERROR_WITH_DETAILS(self, RESOURCE, READ, ("%s", kTestCamDeviceLostText),
                                     ("test camera lost its device"),
                                     (kTestCamDeviceLostField, G_TYPE_BOOLEAN, TRUE, nullptr));
    }
  }
  return GST_PAD_PROBE_DROP;
}

// Runs on the streaming thread for every picture the inner source makes: the camera's controls
// change it as a sensor's settings would, before any encoder.
GstPadProbeReturn ApplyControls_Streaming(GstPad* pad, GstPadProbeInfo* info,
                                          gpointer data) noexcept {
  auto* self = static_cast<StillwickTestCam*>(data);
  std::shared_ptr<testcam::Controls> controls;
  {
    std::lock_guard lock(self->state.mutex);
    controls = self->state.openControls;
  }
  if (!controls || (controls->brightness.load() == 0 && controls->effect.load() == 0))
    return GST_PAD_PROBE_OK;
  GstCaps* caps = gst_pad_get_current_caps(pad);
  GstVideoInfo video;
  const bool known = caps && gst_video_info_from_caps(&video, caps);
  if (caps)
    gst_caps_unref(caps);
  if (!known)
    return GST_PAD_PROBE_OK;
  GstBuffer* buffer = gst_buffer_make_writable(GST_PAD_PROBE_INFO_BUFFER(info));
  GST_PAD_PROBE_INFO_DATA(info) = buffer;
  GstVideoFrame frame;
  if (gst_video_frame_map(&frame, &video, buffer, GST_MAP_WRITE)) {
    testcam::ApplyControls_Streaming(*controls, frame);
    gst_video_frame_unmap(&frame);
  }
  return GST_PAD_PROBE_OK;
}

// The controls a property of this element reaches: the open camera's, else those of the
// camera its node names now, else its own.
std::shared_ptr<testcam::Controls> ControlsFor(StillwickTestCam* self) {
  std::string device;
  {
    std::lock_guard lock(self->state.mutex);
    if (self->state.openControls)
      return self->state.openControls;
    device = self->state.settings.device;
  }
  const std::optional<testcam::CameraEntry> camera =
      device.empty() ? std::nullopt : testcam::CameraAt(device);
  if (camera)
    return testcam::ControlsOf(camera->id);
  std::lock_guard lock(self->state.mutex);
  return self->state.ownControls;
}

// Runs on whichever thread queries the camera's pad from outside: it offers every mode, as a
// device does, whatever the inner chain delivers now.
gboolean SrcQuery(GstPad* pad, GstObject* parent, GstQuery* query) noexcept {
  if (GST_QUERY_TYPE(query) != GST_QUERY_CAPS)
    return gst_pad_query_default(pad, parent, query);
  GstCaps* filter = nullptr;
  gst_query_parse_caps(query, &filter);
  auto* self = STILLWICK_TEST_CAM(parent);
  GstCaps* caps = self->state.modesHidden.load() && !StreamingStarted(self)
                      ? gst_caps_new_any()
                      : testcam::ModesCaps(CurrentModes(self));
  if (filter) {
    GstCaps* both = gst_caps_intersect_full(filter, caps, GST_CAPS_INTERSECT_FIRST);
    gst_caps_unref(caps);
    caps = both;
  }
  gst_query_set_caps_result(query, caps);
  gst_caps_unref(caps);
  return TRUE;
}

void SetString(std::string& field, const GValue* value) {
  const char* text = g_value_get_string(value);
  field = text ? text : "";
}

void stillwick_test_cam_set_property(GObject* object, guint id, const GValue* value,
                                     GParamSpec* pspec) {
  auto* self = STILLWICK_TEST_CAM(object);
  CameraState& st = self->state;
  if (id == PROP_FAIL_AFTER_FRAMES) {
    st.failAfterFrames = g_value_get_int(value);
    return;
  }
  if (id == PROP_BRIGHTNESS) {
    ControlsFor(self)->brightness = g_value_get_int(value);
    return;
  }
  if (id == PROP_COLOR_EFFECTS) {
    ControlsFor(self)->effect = g_value_get_enum(value);
    return;
  }
  if (id == PROP_END) {
    const char* end = g_value_get_string(value);
    const std::string wanted = end ? end : kDefaultEnd;
    const auto known = std::find(std::begin(kEnds), std::end(kEnds), wanted);
    if (known == std::end(kEnds)) {
      GST_WARNING_OBJECT(self, "unknown end '%s' ignored", wanted.c_str());
      return;
    }
    st.end = static_cast<int>(known - std::begin(kEnds));
    return;
  }
  if (id == PROP_MODES_HIDDEN) {
    st.modesHidden = g_value_get_boolean(value);
    return;
  }
  if (id == PROP_START_DELAY) {
    st.startDelayMs = g_value_get_int(value);
    return;
  }
  if (StreamingStarted(self)) {
    GST_WARNING_OBJECT(self, "'%s' can only be changed while the camera is stopped", pspec->name);
    return;
  }
  std::lock_guard lock(st.mutex);
  Settings& s = st.settings;
  switch (id) {
    case PROP_WIDTH:
      s.width = g_value_get_int(value);
      break;
    case PROP_HEIGHT:
      s.height = g_value_get_int(value);
      break;
    case PROP_FRAMERATE:
      s.fps = g_value_get_int(value);
      break;
    case PROP_FORMAT: {
      const char* format = g_value_get_string(value);
      std::string wanted = format ? format : kDefaultFormat;
      if (!testcam::IsKnownFormat(wanted)) {
        GST_WARNING_OBJECT(self, "unknown format '%s' ignored", wanted.c_str());
        return;
      }
      s.format = std::move(wanted);
      break;
    }
    case PROP_MODES: {
      std::string wanted;
      SetString(wanted, value);
      std::vector<testcam::Mode> parsed;
      if (!wanted.empty() && !testcam::ParseModes(wanted, parsed)) {
        GST_WARNING_OBJECT(self, "malformed modes '%s' ignored", wanted.c_str());
        return;
      }
      s.modes = std::move(wanted);
      break;
    }
    case PROP_PATTERN: {
      const char* pattern = g_value_get_string(value);
      std::string wanted = pattern ? pattern : kDefaultPattern;
      GParamSpec* spec =
          g_object_class_find_property(G_OBJECT_GET_CLASS(st.chain.source), "pattern");
      if (!spec || !G_IS_PARAM_SPEC_ENUM(spec) ||
          !g_enum_get_value_by_nick(G_PARAM_SPEC_ENUM(spec)->enum_class, wanted.c_str())) {
        GST_WARNING_OBJECT(self, "unknown pattern '%s' ignored", wanted.c_str());
        return;
      }
      s.pattern = std::move(wanted);
      break;
    }
    case PROP_SERIAL:
      SetString(s.serial, value);
      return;
    case PROP_DEVICE_NAME:
      SetString(s.deviceName, value);
      return;
    case PROP_DEVICE:
      SetString(s.device, value);
      return;
    case PROP_OPEN_ERROR: {
      std::string wanted;
      SetString(wanted, value);
      if (!wanted.empty() && wanted != "busy" && wanted != "not-found") {
        GST_WARNING_OBJECT(self, "unknown open error '%s' ignored", wanted.c_str());
        return;
      }
      s.openError = std::move(wanted);
      return;
    }
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
      return;
  }
  ApplySettingsLocked(self, s.Modes().front().Compressed());
}

const char* NullIfEmpty(const std::string& text) {
  return text.empty() ? nullptr : text.c_str();
}

void stillwick_test_cam_get_property(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
  auto* self = STILLWICK_TEST_CAM(object);
  CameraState& st = self->state;
  if (id == PROP_BRIGHTNESS) {
    g_value_set_int(value, ControlsFor(self)->brightness.load());
    return;
  }
  if (id == PROP_COLOR_EFFECTS) {
    g_value_set_enum(value, ControlsFor(self)->effect.load());
    return;
  }
  std::lock_guard lock(st.mutex);
  const Settings& s = st.settings;
  switch (id) {
    case PROP_WIDTH:
      g_value_set_int(value, s.width);
      break;
    case PROP_HEIGHT:
      g_value_set_int(value, s.height);
      break;
    case PROP_FRAMERATE:
      g_value_set_int(value, s.fps);
      break;
    case PROP_FORMAT:
      g_value_set_string(value, s.format.c_str());
      break;
    case PROP_MODES:
      g_value_set_string(value, NullIfEmpty(s.modes));
      break;
    case PROP_PATTERN:
      g_value_set_string(value, s.pattern.c_str());
      break;
    case PROP_SERIAL:
      g_value_set_string(value, NullIfEmpty(s.serial));
      break;
    case PROP_DEVICE_NAME:
      g_value_set_string(value, NullIfEmpty(s.deviceName));
      break;
    case PROP_DEVICE:
      g_value_set_string(value, NullIfEmpty(s.device));
      break;
    case PROP_OPEN_ERROR:
      g_value_set_string(value, NullIfEmpty(s.openError));
      break;
    case PROP_FAIL_AFTER_FRAMES:
      g_value_set_int(value, st.failAfterFrames.load());
      break;
    case PROP_END:
      g_value_set_string(value, kEnds[st.end.load()]);
      break;
    case PROP_MODES_HIDDEN:
      g_value_set_boolean(value, st.modesHidden.load());
      break;
    case PROP_START_DELAY:
      g_value_set_int(value, st.startDelayMs.load());
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
      break;
  }
}

GstStateChangeReturn stillwick_test_cam_change_state(GstElement* element,
                                                     GstStateChange transition) {
  auto* self = STILLWICK_TEST_CAM(element);
  CameraState& st = self->state;
  if (transition == GST_STATE_CHANGE_NULL_TO_READY) {
    {
      std::lock_guard lock(st.mutex);
      if (st.chainBroken) {
        GST_ELEMENT_ERROR(self, CORE, MISSING_PLUGIN, ("The JPEG encoder is missing."),
                          ("jpegenc or capsfilter could not be made"));
        return GST_STATE_CHANGE_FAILURE;
      }
    }
    if (!OpenDevice(self))
      return GST_STATE_CHANGE_FAILURE;
  }
  if (transition == GST_STATE_CHANGE_READY_TO_PAUSED) {
    bool busy = false;
    {
      std::lock_guard lock(st.mutex);
      busy = st.settings.openError == "busy";
    }
    if (busy) {
      GST_ELEMENT_ERROR(self, RESOURCE, BUSY, ("Device '%s' is busy", NodeName(self).c_str()),
                        ("Call to S_FMT failed: Device or resource busy"));
      return GST_STATE_CHANGE_FAILURE;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(st.startDelayMs.load()));
    ChooseChain(self);
    {
      std::lock_guard lock(st.mutex);
      st.buffersOut = &BuffersOutOf(st.settings.deviceName);
    }
    // Each run of the camera delivers its frames afresh.
    st.delivered = 0;
    st.ended = false;
  }
  const GstStateChangeReturn result =
      GST_ELEMENT_CLASS(stillwick_test_cam_parent_class)->change_state(element, transition);
  if (transition == GST_STATE_CHANGE_READY_TO_NULL) {
    Unregister(self);
    std::lock_guard lock(st.mutex);
    st.openControls.reset();
  }
  return result;
}

void stillwick_test_cam_finalize(GObject* object) {
  auto* self = STILLWICK_TEST_CAM(object);
  Unregister(self);
  self->state.~CameraState();
  G_OBJECT_CLASS(stillwick_test_cam_parent_class)->finalize(object);
}

constexpr auto kMutableReady =
    static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_READY);
constexpr auto kMutablePlaying = static_cast<GParamFlags>(
    G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_PLAYING);

void InstallString(GObjectClass* klass, guint id, const char* name, const char* blurb,
                   const char* fallback, GParamFlags flags = kMutableReady) {
  g_object_class_install_property(klass, id,
                                  g_param_spec_string(name, name, blurb, fallback, flags));
}

void InstallInt(GObjectClass* klass, guint id, const char* name, const char* blurb, int low,
                int high, int fallback, GParamFlags flags = kMutableReady) {
  g_object_class_install_property(klass, id,
                                  g_param_spec_int(name, name, blurb, low, high, fallback, flags));
}

}  // namespace

static void stillwick_test_cam_class_init(StillwickTestCamClass* klass) {
  GObjectClass* object_class = G_OBJECT_CLASS(klass);
  GstElementClass* element_class = GST_ELEMENT_CLASS(klass);

  object_class->set_property = stillwick_test_cam_set_property;
  object_class->get_property = stillwick_test_cam_get_property;
  object_class->finalize = stillwick_test_cam_finalize;
  element_class->change_state = stillwick_test_cam_change_state;

  InstallInt(object_class, PROP_WIDTH, "width", "Picture width in pixels", 16, 8192, kDefaultWidth);
  InstallInt(object_class, PROP_HEIGHT, "height", "Picture height in pixels", 16, 8192,
             kDefaultHeight);
  InstallInt(object_class, PROP_FRAMERATE, "framerate", "Frames per second", 1, 240, kDefaultFps);
  InstallString(object_class, PROP_FORMAT, "format",
                "Delivered format: YUY2, NV12, I420, GRAY8, BGR or MJPEG", kDefaultFormat);
  InstallString(object_class, PROP_MODES, "modes",
                "Modes offered, e.g. \"YUY2 640x480@30, MJPEG 1920x1080@30\" (replaces format, "
                "width, height and framerate)",
                nullptr);
  InstallString(object_class, PROP_PATTERN, "pattern", "Test picture (a videotestsrc pattern nick)",
                kDefaultPattern);
  InstallString(object_class, PROP_SERIAL, "serial", "Serial number the camera reports", nullptr);
  InstallString(object_class, PROP_DEVICE_NAME, "device-name", "Name of the camera", nullptr);
  InstallString(object_class, PROP_DEVICE, "device", "Device node of the camera", nullptr);
  InstallString(object_class, PROP_OPEN_ERROR, "open-error",
                "How opening fails: \"busy\" or \"not-found\" (unset: it opens)", nullptr);
  InstallInt(object_class, PROP_FAIL_AFTER_FRAMES, "fail-after-frames",
             "Frames delivered before the device is lost (-1: never)", -1, G_MAXINT, -1,
             kMutablePlaying);
  InstallString(object_class, PROP_END, "end",
                "How the camera ends when its device is lost: \"error\", \"eos\" or \"silent\"",
                kDefaultEnd, kMutablePlaying);
  g_object_class_install_property(
      object_class, PROP_MODES_HIDDEN,
      g_param_spec_boolean("modes-hidden", "modes-hidden",
                           "The pad offers anything until the camera streams", FALSE,
                           kMutableReady));
  InstallInt(object_class, PROP_START_DELAY, "start-delay",
             "Milliseconds the start (READY to PAUSED) is held", 0, 600000, 0);

  // The camera's controls, as a driver offers them: controllable, named by their nicks.
  constexpr auto kControl =
      static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_CONTROLLABLE |
                               GST_PARAM_MUTABLE_PLAYING);
  g_object_class_install_property(
      object_class, PROP_BRIGHTNESS,
      g_param_spec_int("brightness", "Brightness", "Added to the picture's luma",
                       testcam::kBrightnessMin, testcam::kBrightnessMax, 0, kControl));
  g_object_class_install_property(
      object_class, PROP_COLOR_EFFECTS,
      g_param_spec_enum("color-effects", "Color Effects", "A colour effect on the picture",
                        ColorEffectsType(), testcam::kEffectNone, kControl));

  gst_element_class_add_static_pad_template(element_class, &src_template);
  gst_element_class_set_static_metadata(element_class, "Stillwick test camera", "Source/Video",
                                        "A live test picture that behaves as a camera",
                                        "Stillwick developers <stillwick@localhost>");
}

static void stillwick_test_cam_init(StillwickTestCam* self) {
  new (&self->state) CameraState();
  Chain& c = self->state.chain;
  c.source = gst_element_factory_make("videotestsrc", nullptr);
  c.rawFilter = gst_element_factory_make("capsfilter", nullptr);
  // videotestsrc and capsfilter are core parts of every installation we support.
  g_assert(c.source && c.rawFilter);
  g_object_set(c.source, "is-live", TRUE, nullptr);
  gst_bin_add_many(GST_BIN(self), c.source, c.rawFilter, nullptr);
  gst_element_link(c.source, c.rawFilter);
  GstPad* made = gst_element_get_static_pad(c.source, "src");
  gst_pad_add_probe(made, GST_PAD_PROBE_TYPE_BUFFER, ApplyControls_Streaming, self, nullptr);
  gst_object_unref(made);

  self->srcPad = gst_ghost_pad_new_no_target_from_template(
      "src", gst_element_class_get_pad_template(GST_ELEMENT_GET_CLASS(self), "src"));
  gst_pad_set_query_function(self->srcPad, SrcQuery);
  gst_pad_add_probe(self->srcPad, GST_PAD_PROBE_TYPE_BUFFER, CountBuffer_Streaming, self, nullptr);
  gst_element_add_pad(GST_ELEMENT(self), self->srcPad);

  std::lock_guard lock(self->state.mutex);
  ApplySettingsLocked(self, false);
}

namespace testcam {

void UnplugCamerasNotIn(const std::vector<CameraEntry>& entries) {
  ForgetControlsNotIn(entries);
  std::lock_guard lock(Open().mutex);
  for (const auto& [camera, id] : Open().open) {
    const bool present = std::any_of(entries.begin(), entries.end(),
                                     [&id = id](const CameraEntry& e) { return e.id == id; });
    if (!present)
      camera->state.unplugged = true;
  }
}

}  // namespace testcam

int TestCamBuffersOut(const std::string& name) {
  return BuffersOutOf(name).load();
}
