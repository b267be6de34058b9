// The "stillwicktestcam" element: a live test picture behind a caps filter (and a JPEG encoder
// for MJPEG), shown to the outside as one source pad. It can play an unplugged camera: after a
// set number of frames it stops delivering and posts the device-lost error.

#include <atomic>
#include <mutex>
#include <new>
#include <string>

#include "TestCamTypes.h"

#define GST_CAT_DEFAULT stillwick_testcam_debug

namespace {

enum {
  PROP_0,
  PROP_WIDTH,
  PROP_HEIGHT,
  PROP_FRAMERATE,
  PROP_FORMAT,
  PROP_PATTERN,
  PROP_SERIAL,
  PROP_DEVICE_NAME,
  PROP_FAIL_AFTER_FRAMES,
};

constexpr int kDefaultWidth = 640;
constexpr int kDefaultHeight = 480;
constexpr int kDefaultFps = 30;
constexpr char kDefaultFormat[] = "YUY2";
constexpr char kDefaultPattern[] = "smpte";

GstStaticPadTemplate src_template = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("video/x-raw, format=(string){ YUY2, BGR }; image/jpeg"));

bool IsKnownFormat(const std::string& format) {
  return format == "YUY2" || format == "BGR" || format == "MJPEG";
}

// The chain's elements are owned by the bin; these are borrowed pointers.
struct Chain {
  GstElement* source = nullptr;
  GstElement* rawFilter = nullptr;
  GstElement* encoder = nullptr;     // MJPEG only
  GstElement* jpegFilter = nullptr;  // MJPEG only
};

struct Settings {
  int width = kDefaultWidth;
  int height = kDefaultHeight;
  int fps = kDefaultFps;
  std::string format = kDefaultFormat;
  std::string pattern = kDefaultPattern;
  std::string serial;
  std::string deviceName;
};

struct CameraState {
  // Guards settings and chain; taken by whichever thread sets or reads properties (the main
  // thread in practice) and by state changes. The streaming thread never takes it.
  std::mutex mutex;
  Settings settings;
  Chain chain;
  bool chainBroken = false;  // an element of the chain could not be made

  // Read by the streaming thread for every buffer.
  std::atomic<int> failAfterFrames{-1};
  std::atomic<long long> delivered{0};
  std::atomic<bool> lostPosted{false};
};

}  // namespace

struct _StillwickTestCam {
  GstBin parent;
  GstPad* srcPad;  // the ghost pad, owned by the element
  CameraState state;
};

G_DEFINE_TYPE(StillwickTestCam, stillwick_test_cam, GST_TYPE_BIN)

namespace {

GstCaps* RawCaps(const Settings& s) {
  // Encoded cameras take 4:2:0 pictures, as real MJPEG cameras do.
  const char* raw = s.format == "MJPEG" ? "I420" : s.format.c_str();
  return gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, raw, "width", G_TYPE_INT,
                             s.width, "height", G_TYPE_INT, s.height, "framerate",
                             GST_TYPE_FRACTION, s.fps, 1, nullptr);
}

GstCaps* OutputCaps(const Settings& s) {
  TestCameraSpec spec;
  spec.width = s.width;
  spec.height = s.height;
  spec.fps = s.fps;
  spec.format = s.format;
  return testcam::CameraCaps(spec);
}

void SetCaps(GstElement* filter, GstCaps* caps) {
  g_object_set(filter, "caps", caps, nullptr);
  gst_caps_unref(caps);
}

// Brings the inner chain in line with the settings. Called with state.mutex held, while the
// element is at most READY (nothing streams).
void ApplySettingsLocked(StillwickTestCam* self) {
  CameraState& st = self->state;
  Chain& c = st.chain;
  const bool wantEncoder = st.settings.format == "MJPEG";

  gst_util_set_object_arg(G_OBJECT(c.source), "pattern", st.settings.pattern.c_str());
  GstCaps* rawCaps = RawCaps(st.settings);
  SetCaps(c.rawFilter, rawCaps);

  // The ghost pad holds the last element's source pad; free it before the chain changes.
  if (wantEncoder != (c.encoder != nullptr)) {
    gst_ghost_pad_set_target(GST_GHOST_PAD(self->srcPad), nullptr);
  }
  if (!wantEncoder && c.encoder) {
    gst_element_unlink_many(c.rawFilter, c.encoder, c.jpegFilter, nullptr);
    gst_bin_remove_many(GST_BIN(self), c.encoder, c.jpegFilter, nullptr);
    c.encoder = c.jpegFilter = nullptr;
  }
  if (wantEncoder && !c.encoder) {
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
    SetCaps(c.jpegFilter, OutputCaps(st.settings));

  GstElement* last = c.jpegFilter ? c.jpegFilter : c.rawFilter;
  GstPad* target = gst_element_get_static_pad(last, "src");
  gst_ghost_pad_set_target(GST_GHOST_PAD(self->srcPad), target);
  gst_object_unref(target);
}

bool StreamingStarted(StillwickTestCam* self) {
  GST_OBJECT_LOCK(self);
  const bool started =
      GST_STATE(self) > GST_STATE_READY || GST_STATE_PENDING(self) > GST_STATE_READY;
  GST_OBJECT_UNLOCK(self);
  return started;
}

// Runs on the streaming thread for every buffer leaving the camera.
GstPadProbeReturn CountBuffer_Streaming(GstPad*, GstPadProbeInfo*, gpointer data) noexcept {
  auto* self = static_cast<StillwickTestCam*>(data);
  CameraState& st = self->state;
  const int limit = st.failAfterFrames.load();
  if (limit < 0)
    return GST_PAD_PROBE_OK;
  if (st.delivered.fetch_add(1) < limit)
    return GST_PAD_PROBE_OK;
  if (!st.lostPosted.exchange(true)) {
    GST_ELEMENT_ERROR_WITH_DETAILS(self, RESOURCE, READ, ("%s", kTestCamDeviceLostText),
                                   ("test camera stopped after %d frames", limit),
                                   (kTestCamDeviceLostField, G_TYPE_BOOLEAN, TRUE, nullptr));
  }
  return GST_PAD_PROBE_DROP;
}

void stillwick_test_cam_set_property(GObject* object, guint id, const GValue* value,
                                     GParamSpec* pspec) {
  auto* self = STILLWICK_TEST_CAM(object);
  CameraState& st = self->state;
  if (id == PROP_FAIL_AFTER_FRAMES) {
    st.failAfterFrames = g_value_get_int(value);
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
      if (!IsKnownFormat(wanted)) {
        GST_WARNING_OBJECT(self, "unknown format '%s' ignored", wanted.c_str());
        return;
      }
      s.format = std::move(wanted);
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
    case PROP_SERIAL: {
      const char* serial = g_value_get_string(value);
      s.serial = serial ? serial : "";
      return;
    }
    case PROP_DEVICE_NAME: {
      const char* name = g_value_get_string(value);
      s.deviceName = name ? name : "";
      return;
    }
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
      return;
  }
  ApplySettingsLocked(self);
}

void stillwick_test_cam_get_property(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
  auto* self = STILLWICK_TEST_CAM(object);
  CameraState& st = self->state;
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
    case PROP_PATTERN:
      g_value_set_string(value, s.pattern.c_str());
      break;
    case PROP_SERIAL:
      g_value_set_string(value, s.serial.empty() ? nullptr : s.serial.c_str());
      break;
    case PROP_DEVICE_NAME:
      g_value_set_string(value, s.deviceName.empty() ? nullptr : s.deviceName.c_str());
      break;
    case PROP_FAIL_AFTER_FRAMES:
      g_value_set_int(value, st.failAfterFrames.load());
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
    std::lock_guard lock(st.mutex);
    if (st.chainBroken) {
      GST_ELEMENT_ERROR(self, CORE, MISSING_PLUGIN, ("The JPEG encoder is missing."),
                        ("jpegenc or capsfilter could not be made"));
      return GST_STATE_CHANGE_FAILURE;
    }
  }
  if (transition == GST_STATE_CHANGE_READY_TO_PAUSED) {
    // Each run of the camera delivers its frames afresh.
    st.delivered = 0;
    st.lostPosted = false;
  }
  return GST_ELEMENT_CLASS(stillwick_test_cam_parent_class)->change_state(element, transition);
}

void stillwick_test_cam_finalize(GObject* object) {
  STILLWICK_TEST_CAM(object)->state.~CameraState();
  G_OBJECT_CLASS(stillwick_test_cam_parent_class)->finalize(object);
}

constexpr auto kMutableReady =
    static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_READY);
constexpr auto kMutablePlaying = static_cast<GParamFlags>(
    G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_PLAYING);

}  // namespace

static void stillwick_test_cam_class_init(StillwickTestCamClass* klass) {
  GObjectClass* object_class = G_OBJECT_CLASS(klass);
  GstElementClass* element_class = GST_ELEMENT_CLASS(klass);

  object_class->set_property = stillwick_test_cam_set_property;
  object_class->get_property = stillwick_test_cam_get_property;
  object_class->finalize = stillwick_test_cam_finalize;
  element_class->change_state = stillwick_test_cam_change_state;

  g_object_class_install_property(object_class, PROP_WIDTH,
                                  g_param_spec_int("width", "Width", "Picture width in pixels", 16,
                                                   8192, kDefaultWidth, kMutableReady));
  g_object_class_install_property(object_class, PROP_HEIGHT,
                                  g_param_spec_int("height", "Height", "Picture height in pixels",
                                                   16, 8192, kDefaultHeight, kMutableReady));
  g_object_class_install_property(object_class, PROP_FRAMERATE,
                                  g_param_spec_int("framerate", "Frame rate", "Frames per second",
                                                   1, 240, kDefaultFps, kMutableReady));
  g_object_class_install_property(
      object_class, PROP_FORMAT,
      g_param_spec_string("format", "Format", "Delivered format: YUY2, BGR or MJPEG",
                          kDefaultFormat, kMutableReady));
  g_object_class_install_property(
      object_class, PROP_PATTERN,
      g_param_spec_string("pattern", "Pattern", "Test picture (a videotestsrc pattern nick)",
                          kDefaultPattern, kMutableReady));
  g_object_class_install_property(
      object_class, PROP_SERIAL,
      g_param_spec_string("serial", "Serial", "Serial number the camera reports", nullptr,
                          kMutableReady));
  g_object_class_install_property(
      object_class, PROP_DEVICE_NAME,
      g_param_spec_string("device-name", "Device name", "Name of the camera", nullptr,
                          kMutableReady));
  g_object_class_install_property(
      object_class, PROP_FAIL_AFTER_FRAMES,
      g_param_spec_int("fail-after-frames", "Fail after frames",
                       "Frames delivered before the device is lost (-1: never)", -1, G_MAXINT, -1,
                       kMutablePlaying));

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

  self->srcPad = gst_ghost_pad_new_no_target_from_template(
      "src", gst_element_class_get_pad_template(GST_ELEMENT_GET_CLASS(self), "src"));
  gst_pad_add_probe(self->srcPad, GST_PAD_PROBE_TYPE_BUFFER, CountBuffer_Streaming, self, nullptr);
  gst_element_add_pad(GST_ELEMENT(self), self->srcPad);

  std::lock_guard lock(self->state.mutex);
  ApplySettingsLocked(self);
}
