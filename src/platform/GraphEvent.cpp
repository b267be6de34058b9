#include "platform/GraphEvent.h"

#include "platform/Error.h"
#include "platform/GstRef.h"

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

bool IsSourceElement(GstElement* element) {
  if (GST_OBJECT_FLAG_IS_SET(element, GST_ELEMENT_FLAG_SOURCE))
    return true;
  GST_OBJECT_LOCK(element);
  const bool source = element->numsinkpads == 0 && element->numsrcpads > 0;
  GST_OBJECT_UNLOCK(element);
  return source;
}

bool MarkedDeviceLost(GstMessage* message) {
  const GstStructure* details = nullptr;
  gst_message_parse_error_details(message, &details);
  gboolean lost = FALSE;
  return details && gst_structure_get_boolean(details, "device-lost", &lost) && lost;
}

}  // namespace

bool IsDeviceLost(GstMessage* message, GstElement* pipeline) {
  if (GST_MESSAGE_TYPE(message) != GST_MESSAGE_ERROR)
    return false;
  if (MarkedDeviceLost(message))
    return true;
  GError* raw = nullptr;
  gst_message_parse_error(message, &raw, nullptr);
  GErrorPtr error(raw);
  if (!error || error->domain != GST_RESOURCE_ERROR)
    return false;
  if (error->code != GST_RESOURCE_ERROR_READ && error->code != GST_RESOURCE_ERROR_NOT_FOUND &&
      error->code != GST_RESOURCE_ERROR_OPEN_READ) {
    return false;
  }
  auto child = TopLevelChild(GST_MESSAGE_SRC(message), pipeline);
  return child && IsSourceElement(child.get());
}

GraphEvent ClassifyMessage(GstMessage* message, GstElement* pipeline) {
  GraphEvent event;
  const GstMessageType type = GST_MESSAGE_TYPE(message);
  switch (type) {
    case GST_MESSAGE_EOS:
      event.code = kEventComplete;
      break;
    case GST_MESSAGE_ERROR: {
      GError* raw = nullptr;
      gst_message_parse_error(message, &raw, nullptr);
      GErrorPtr error(raw);
      const char* text = error && error->message ? error->message : "unknown error";
      event.stopsStream = true;
      if (IsDeviceLost(message, pipeline)) {
        event.code = kEventDeviceLost;
        event.errorText = FormatMessage("Capture stopped, the video device was lost: %s", text);
      } else {
        event.code = kEventErrorAbort;
        event.errorText = FormatMessage("Capture stopped: %s", text);
      }
      break;
    }
    default:
      // Extended types lie above the int range; they wrap, which keeps them distinct.
      event.code =
          static_cast<int>(static_cast<unsigned>(kEventGstMessage) + static_cast<unsigned>(type));
      break;
  }
  return event;
}

}  // namespace platform
