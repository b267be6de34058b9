#pragma once
// The state an element is in now, not the one it is on its way to.

#include <gst/gst.h>

inline GstState CurrentState(GstElement* element) {
  GstState state = GST_STATE_VOID_PENDING;
  gst_element_get_state(element, &state, nullptr, 0);
  return state;
}
