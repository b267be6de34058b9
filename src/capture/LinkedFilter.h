#pragma once
// The linked-component protocol between the graph component and the components that put a
// filter into its graph (the capture source, the sample grabber, the preview window).

#include <cstdint>
#include <string>

#include "platform/media/Pipeline.h"

enum class GraphState { Uninitialized = 0, Stopped = 1, Paused = 2, Playing = 3 };

enum class FilterOperation { AboutToAdd = 0, Added = 1, AboutToRemove = 2, Removed = 3 };

enum class ControlEvent {
  PlayRequested = 0,
  PauseRequested = 1,
  StopRequested = 2,
  ActiveChanged = 7
};

class ILinkedFilter {
 public:
  virtual ~ILinkedFilter() = default;
  // The component's current filter, or null. Borrowed: the component keeps its reference.
  virtual GstElement* GetBaseFilter() = 0;
  // The name under which the filter joins the graph: the component's own name.
  virtual std::string GetFilterName() = 0;
  virtual void NotifyFilterOperation(FilterOperation operation, int param) = 0;
};

class IGraphListener {
 public:
  virtual ~IGraphListener() = default;
  // Every graph event, on the main thread, before the graph's OnDSEvent.
  virtual void GraphEventReceived(int code, intptr_t param1, intptr_t param2) = 0;
  virtual void ControlEventReceived(ControlEvent event, int param) = 0;
};

// The component converted to its filter (the original IBaseFilter query): raises
// "Interface not supported" while it has none.
GstElement* BaseFilterOf(ILinkedFilter& component);
