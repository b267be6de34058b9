#include "platform/Pipeline.h"

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
  gst_element_set_state(element, GST_STATE_NULL);
  return gst_bin_remove(GST_BIN(pipeline), element);
}

std::vector<GstRef<GstElement>> Elements(GstElement* pipeline) {
  if (!pipeline)
    return {};
  return Collect<GstElement>(gst_bin_iterate_elements(GST_BIN(pipeline)));
}

std::vector<GstRef<GstPad>> Pads(GstElement* element) {
  if (!element)
    return {};
  return Collect<GstPad>(gst_element_iterate_pads(element));
}

bool DisconnectPads(GstElement* element) {
  bool all = true;
  for (const auto& pad : Pads(element)) {
    auto peer = GstRef<GstPad>::Adopt(gst_pad_get_peer(pad.get()));
    if (!peer)
      continue;
    const bool unlinked = GST_PAD_IS_SRC(pad.get()) ? gst_pad_unlink(pad.get(), peer.get())
                                                    : gst_pad_unlink(peer.get(), pad.get());
    all = all && unlinked;
  }
  return all;
}

GstState ReportedState(GstElement* element) {
  GstState current = GST_STATE_VOID_PENDING;
  GstState pending = GST_STATE_VOID_PENDING;
  // A failed change leaves its target as pending (gst_element_abort_state keeps it); the
  // element stays where it was.
  if (gst_element_get_state(element, &current, &pending, 0) == GST_STATE_CHANGE_FAILURE)
    return current;
  return pending != GST_STATE_VOID_PENDING ? pending : current;
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
