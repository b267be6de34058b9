#include "platform/media/Pipeline.h"

namespace platform {

namespace {

// Collects what an iterator yields; a resync (the bin or element changed underneath) starts over.
template <typename T>
std::vector<GstRef<T>> Collect(GstIterator* raw) {
  std::vector<GstRef<T>> items;
  GstIteratorPtr it(raw);
  if (!it)
    return items;
  GValue item = G_VALUE_INIT;
  for (bool done = false; !done;) {
    switch (gst_iterator_next(it.get(), &item)) {
      case GST_ITERATOR_OK:
        items.push_back(GstRef<T>::Retain(static_cast<T*>(g_value_get_object(&item))));
        g_value_reset(&item);
        break;
      case GST_ITERATOR_RESYNC:
        items.clear();
        gst_iterator_resync(it.get());
        break;
      default:
        done = true;
        break;
    }
  }
  g_value_unset(&item);
  return items;
}

bool IsChildOf(GstElement* element, GstElement* bin) {
  auto parent = GstRef<GstObject>::Adopt(gst_object_get_parent(GST_OBJECT(element)));
  return parent.get() == GST_OBJECT(bin);
}

static_assert(static_cast<int>(ElementState::VoidPending) == GST_STATE_VOID_PENDING &&
              static_cast<int>(ElementState::Null) == GST_STATE_NULL &&
              static_cast<int>(ElementState::Ready) == GST_STATE_READY &&
              static_cast<int>(ElementState::Paused) == GST_STATE_PAUSED &&
              static_cast<int>(ElementState::Playing) == GST_STATE_PLAYING);

GstState ToGst(ElementState state) {
  return static_cast<GstState>(state);
}

ElementState FromGst(GstState state) {
  return state >= GST_STATE_VOID_PENDING && state <= GST_STATE_PLAYING
             ? static_cast<ElementState>(state)
             : ElementState::VoidPending;
}

}  // namespace

GstRef<GstElement> NewPipeline(const std::string& name) {
  return GstRef<GstElement>::Adopt(gst_pipeline_new(name.c_str()));
}

bool AddElement(GstElement* pipeline, GstElement* element, const std::string& name) {
  if (!pipeline || !element)
    return false;
  // A parented element cannot be renamed; gst_bin_add would refuse it anyway.
  if (!gst_object_set_name(GST_OBJECT(element), name.c_str()))
    return false;
  return gst_bin_add(GST_BIN(pipeline), element);
}

bool RemoveElement(GstElement* pipeline, GstElement* element) {
  if (!pipeline || !element || !IsChildOf(element, pipeline))
    return false;
  // The bin would drop its reference before we could stop the element; keep one until done.
  auto keep = GstRef<GstElement>::Retain(element);
  StopElement(element);
  return gst_bin_remove(GST_BIN(pipeline), element);
}

std::vector<GstRef<GstElement>> Elements(GstElement* pipeline) {
  if (!pipeline)
    return {};
  return Collect<GstElement>(gst_bin_iterate_elements(GST_BIN(pipeline)));
}

bool IsSourceElement(GstElement* element) {
  if (GST_OBJECT_FLAG_IS_SET(element, GST_ELEMENT_FLAG_SOURCE))
    return true;
  GST_OBJECT_LOCK(element);
  const bool source = element->numsinkpads == 0 && element->numsrcpads > 0;
  GST_OBJECT_UNLOCK(element);
  return source;
}

GstRef<GstElement> SourceElement(GstElement* pipeline) {
  for (auto& element : Elements(pipeline)) {
    if (IsSourceElement(element.get()))
      return std::move(element);
  }
  return {};
}

std::vector<GstRef<GstPad>> Pads(GstElement* element) {
  if (!element)
    return {};
  return Collect<GstPad>(gst_element_iterate_pads(element));
}

GstRef<GstPad> StaticPad(GstElement* element, const char* name) {
  if (!element)
    return {};
  return GstRef<GstPad>::Adopt(gst_element_get_static_pad(element, name));
}

bool UnlinkPad(GstPad* pad) noexcept {
  if (!pad)
    return false;
  auto peer = GstRef<GstPad>::Adopt(gst_pad_get_peer(pad));
  if (!peer)
    return false;
  return GST_PAD_IS_SRC(pad) ? gst_pad_unlink(pad, peer.get()) : gst_pad_unlink(peer.get(), pad);
}

bool DisconnectPads(GstElement* element) {
  bool all = true;
  for (const auto& pad : Pads(element)) {
    if (gst_pad_is_linked(pad.get()))
      all = UnlinkPad(pad.get()) && all;
  }
  return all;
}

StateChange SetState(GstElement* element, ElementState target) {
  if (!element)
    return StateChange::Failure;
  switch (gst_element_set_state(element, ToGst(target))) {
    case GST_STATE_CHANGE_SUCCESS:
      return StateChange::Success;
    case GST_STATE_CHANGE_ASYNC:
      return StateChange::Async;
    case GST_STATE_CHANGE_NO_PREROLL:
      return StateChange::NoPreroll;
    case GST_STATE_CHANGE_FAILURE:
      break;
  }
  return StateChange::Failure;
}

void StopElement(GstElement* element) noexcept {
  if (element)
    gst_element_set_state(element, GST_STATE_NULL);
}

ElementState ReportedState(GstElement* element) {
  GstState current = GST_STATE_VOID_PENDING;
  GstState pending = GST_STATE_VOID_PENDING;
  // A failed change leaves its target as pending (gst_element_abort_state keeps it); the
  // element stays where it was.
  if (gst_element_get_state(element, &current, &pending, 0) == GST_STATE_CHANGE_FAILURE)
    return FromGst(current);
  return FromGst(pending != GST_STATE_VOID_PENDING ? pending : current);
}

std::optional<ElementState> SettledState(GstElement* element) {
  GstState state = GST_STATE_VOID_PENDING;
  switch (gst_element_get_state(element, &state, nullptr, 0)) {
    case GST_STATE_CHANGE_SUCCESS:
    case GST_STATE_CHANGE_NO_PREROLL:
      return FromGst(state);
    default:
      return std::nullopt;
  }
}

std::vector<std::string> MissingFactories(const std::vector<std::string>& names) {
  std::vector<std::string> missing;
  for (const auto& name : names) {
    auto factory = GstRef<GstElementFactory>::Adopt(gst_element_factory_find(name.c_str()));
    if (!factory)
      missing.push_back(name);
  }
  return missing;
}

}  // namespace platform
