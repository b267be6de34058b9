#include "capture/LinkedFilter.h"

#include "platform/runtime/Error.h"

GstElement* BaseFilterOf(ILinkedFilter& component) {
  GstElement* filter = component.GetBaseFilter();
  if (!filter)
    RaiseError("Interface not supported");
  return filter;
}
