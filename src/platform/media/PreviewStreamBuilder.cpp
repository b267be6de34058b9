#include "platform/media/PreviewStreamBuilder.h"

#include <string_view>

#include "platform/media/CaptureMode.h"
#include "platform/media/GrabberElement.h"
#include "platform/media/GstRef.h"
#include "platform/media/Moniker.h"
#include "platform/media/Pipeline.h"

namespace platform {

namespace {

constexpr char kConverter[] = "videoconvert";
constexpr char kJpegDecoder[] = "jpegdec";
constexpr char kCapsFilter[] = "capsfilter";

// Makes an element of `factory` and adds it to the pipeline in the pipeline's state.
GstElement* Insert(GstElement* pipeline, const char* factory) {
  auto element = GstRef<GstElement>::Adopt(gst_element_factory_make(factory, nullptr));
  if (!element)
    return nullptr;
  if (g_object_class_find_property(G_OBJECT_GET_CLASS(element.get()), "n-threads")) {
    // Two threads convert a 1080p frame in two thirds of the time; the machines have two cores.
    g_object_set(element.get(), "n-threads", 2u, nullptr);
  }
  if (!gst_bin_add(GST_BIN(pipeline), element.get()))
    return nullptr;
  gst_element_sync_state_with_parent(element.get());
  return element.get();  // the pipeline holds it now
}

// What `element` can deliver on its first unlinked source pad (null when it has none).
GstRef<GstCaps> OutputCaps(GstElement* element) {
  for (const auto& pad : Pads(element)) {
    if (GST_PAD_IS_SRC(pad.get()) && !gst_pad_is_linked(pad.get())) {
      return GstRef<GstCaps>::Adopt(gst_pad_query_caps(pad.get(), nullptr));
    }
  }
  return {};
}

bool OffersRawVideo(GstCaps* caps) {
  if (gst_caps_is_any(caps))
    return true;
  for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
    if (gst_structure_has_name(gst_caps_get_structure(caps, i), "video/x-raw"))
      return true;
  }
  return false;
}

// A decoder for compressed output (see DecoderFor).
GstElement* InsertDecoder(GstElement* pipeline, GstCaps* caps) {
  const std::string factory = DecoderFor(caps);
  return factory.empty() ? nullptr : Insert(pipeline, factory.c_str());
}

// The source, held to the mode the graph captures in when it offers modes (a capsfilter after
// it); the source itself when it names none. An element that offers anything until it streams
// (pipewiresrc) is held to the modes of the device it was made from.
GstElement* HoldToMode(GstElement* pipeline, GstElement* source, const std::string& wantedMode) {
  auto offered = OutputCaps(source);
  if (offered && gst_caps_is_any(offered.get())) {
    if (GstDevice* device = BoundDevice(source))
      offered = GstRef<GstCaps>::Adopt(gst_device_get_caps(device));
  }
  auto mode = ChooseCaptureMode(offered.get(), wantedMode);
  if (!mode)
    return source;
  GstElement* filter = Insert(pipeline, kCapsFilter);
  if (!filter)
    return nullptr;
  g_object_set(filter, "caps", mode.get(), nullptr);
  return gst_element_link(source, filter) ? filter : nullptr;
}

// Links upstream to downstream: directly if the formats allow, else through a decoder (for
// compressed output, when `mayDecode`) and a converter.
bool LinkThrough(GstElement* pipeline, GstElement* upstream, GstElement* downstream,
                 bool mayDecode) {
  if (gst_element_link(upstream, downstream))
    return true;
  GstElement* from = upstream;
  if (mayDecode) {
    auto caps = OutputCaps(upstream);
    if (caps && !OffersRawVideo(caps.get())) {
      GstElement* decoder = InsertDecoder(pipeline, caps.get());
      if (!decoder || !gst_element_link(upstream, decoder))
        return false;
      // A decoder's output format follows the picture's own coding (jpegdec gives I420 for
      // most JPEGs whatever its pads advertise), so a direct link would pass the check and fail
      // at run time. The converter after it passes frames through when nothing needs changing.
      from = decoder;
    }
  }
  GstElement* converter = Insert(pipeline, kConverter);
  return converter && gst_element_link(from, converter) && gst_element_link(converter, downstream);
}

}  // namespace

const std::vector<BuilderElement>& PreviewStreamElements() {
  static const std::vector<BuilderElement> elements = {
      {kConverter, "gstreamer1.0-plugins-base"},
      {kJpegDecoder, "gstreamer1.0-plugins-good"},
  };
  return elements;
}

bool RenderPreviewStream(GstElement* pipeline, GstElement* source, GstElement* intermediate,
                         GstElement* sink, const std::string& wantedMode) {
  if (!pipeline || !source || !sink)
    return false;
  // pipewiresrc's frames lie in memory PipeWire lends and takes back when the stream's buffers
  // go, also on an unplug; whatever the program holds on to must be a copy.
  if (IsGrabber(intermediate)) {
    GstElementFactory* factory = gst_element_get_factory(source);
    SetGrabberCopiesFrames(intermediate,
                           factory && std::string_view(GST_OBJECT_NAME(factory)) == "pipewiresrc");
  }
  // A device's element offers every format it might have until it is opened; opened (READY),
  // it offers what the device really delivers, which is what the links must be checked against.
  if (ReportedState(source) == ElementState::Null)
    SetState(source, ElementState::Ready);
  GstElement* from = HoldToMode(pipeline, source, wantedMode);
  if (!from)
    return false;
  if (!intermediate)
    return LinkThrough(pipeline, from, sink, true);
  const bool first = LinkThrough(pipeline, from, intermediate, true);
  const bool second = first && LinkThrough(pipeline, intermediate, sink, false);
  return first && second;
}

}  // namespace platform
