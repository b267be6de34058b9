#include "platform/media/GraphEvent.h"

#include <gst/base/gstbasesrc.h>

#include "platform/media/GstRef.h"
#include "platform/media/Pipeline.h"
#include "platform/runtime/Error.h"

namespace platform {

namespace {

// The child of `pipeline` that holds (or is) `object`; null when it is not inside the pipeline.
GstRef<GstElement> TopLevelChild(GstObject* object, GstElement* pipeline) {
  auto current = GstRef<GstObject>::Retain(object);
  while (current) {
    auto parent = GstRef<GstObject>::Adopt(gst_object_get_parent(current.get()));
    if (!parent)
      return {};
    if (parent.get() == GST_OBJECT(pipeline)) {
      if (!GST_IS_ELEMENT(current.get()))
        return {};
      return GstRef<GstElement>::Retain(GST_ELEMENT(current.get()));
    }
    current = parent;
  }
  return {};
}

constexpr char kNoFramesField[] = "no-frames";

bool Marked(GstMessage* message, const char* field) {
  const GstStructure* details = nullptr;
  gst_message_parse_error_details(message, &details);
  gboolean set = FALSE;
  return details && gst_structure_get_boolean(details, field, &set) && set;
}

bool HasLiveSource(GstElement* pipeline) {
  bool live = false;
  GstIteratorPtr it(gst_bin_iterate_recurse(GST_BIN(pipeline)));
  GValue item = G_VALUE_INIT;
  while (!live && gst_iterator_next(it.get(), &item) == GST_ITERATOR_OK) {
    auto* element = static_cast<GstElement*>(g_value_get_object(&item));
    live = GST_IS_BASE_SRC(element) && gst_base_src_is_live(GST_BASE_SRC(element));
    g_value_reset(&item);
  }
  g_value_unset(&item);
  return live;
}

// What an ERROR says about the video device.
StreamFailure Diagnose(GstMessage* message, GstElement* pipeline, const GError* error) {
  if (Marked(message, kNoFramesField))
    return StreamFailure::NoFrames;
  if (Marked(message, "device-lost"))
    return StreamFailure::DeviceLost;
  if (!error || error->domain != GST_RESOURCE_ERROR)
    return StreamFailure::Other;
  auto child = TopLevelChild(GST_MESSAGE_SRC(message), pipeline);
  if (!child || !IsSourceElement(child.get()))
    return StreamFailure::Other;
  switch (error->code) {
    case GST_RESOURCE_ERROR_READ:
      return StreamFailure::DeviceLost;
    case GST_RESOURCE_ERROR_BUSY:
      return StreamFailure::DeviceBusy;
    case GST_RESOURCE_ERROR_NOT_FOUND:
      return StreamFailure::DeviceNotFound;
    case GST_RESOURCE_ERROR_OPEN_READ:
    case GST_RESOURCE_ERROR_OPEN_WRITE:
    case GST_RESOURCE_ERROR_OPEN_READ_WRITE:
      return StreamFailure::DeviceUnopenable;
    default:
      return StreamFailure::Other;
  }
}

}  // namespace

GraphEvent ClassifyMessage(GstMessage* message, GstElement* pipeline) {
  GraphEvent event;
  const GstMessageType type = GST_MESSAGE_TYPE(message);
  switch (type) {
    case GST_MESSAGE_EOS:
      event.code = EC_COMPLETE;
      if (HasLiveSource(pipeline))
        event.failure = StreamFailure::StreamEnded;
      break;
    case GST_MESSAGE_ERROR: {
      GError* raw = nullptr;
      gchar* rawDebug = nullptr;
      gst_message_parse_error(message, &raw, &rawDebug);
      GErrorPtr error(raw);
      GCharPtr debug(rawDebug);
      const char* text = error && error->message ? error->message : "unknown error";
      event.message = text;
      event.source = GST_MESSAGE_SRC(message) ? GST_MESSAGE_SRC_NAME(message) : "(unknown)";
      event.detail = debug ? FormatMessage("%s (%s)", text, debug.get()) : text;
      event.failure = Diagnose(message, pipeline, error.get());
      event.code =
          event.failure == StreamFailure::DeviceLost || event.failure == StreamFailure::NoFrames
              ? EC_DEVICE_LOST
              : EC_ERRORABORT;
      break;
    }
    case GST_MESSAGE_STATE_CHANGED:
      event.pipelineStateChanged = GST_MESSAGE_SRC(message) == GST_OBJECT(pipeline);
      [[fallthrough]];
    default:
      // Extended types lie above the int range; they wrap, which keeps them distinct.
      event.code =
          static_cast<int>(static_cast<unsigned>(EC_GST_MESSAGE) + static_cast<unsigned>(type));
      break;
  }
  return event;
}

GstRef<GstMessage> SilentSourceMessage(GstElement* pipeline, const std::string& nodeInUse) {
  GstRef<GstElement> source = SourceElement(pipeline);
  GstObject* from = source ? GST_OBJECT(source.get()) : GST_OBJECT(pipeline);
  if (!nodeInUse.empty()) {
    // What v4l2src says when another program holds the camera.
    GErrorPtr error(g_error_new(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_BUSY, "Device '%s' is busy",
                                nodeInUse.c_str()));
    return GstRef<GstMessage>::Adopt(gst_message_new_error(
        from, error.get(), "no frames came; another program holds the device's stream"));
  }
  GErrorPtr error(g_error_new_literal(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_READ,
                                      "No frames came from the video device"));
  return GstRef<GstMessage>::Adopt(gst_message_new_error_with_details(
      from, error.get(), "the source went quiet without an error or end of stream",
      gst_structure_new("details", kNoFramesField, G_TYPE_BOOLEAN, TRUE, nullptr)));
}

}  // namespace platform
