#pragma once
// What every component that puts a filter into a graph shares: the reference to its graph and
// the link protocol of its FilterGraph setter. A component that also follows the graph's
// events (an IGraphListener) is linked as a listener too.

#include "capture/LinkedFilter.h"
#include "capture/TFilterGraph.h"

class TLinkedComponent : public ILinkedFilter, public IGraphFreeNotification {
 public:
  TFilterGraph* FilterGraph() const noexcept { return filterGraph_; }
  // Same graph: nothing. Otherwise unlinks from the old graph, links to the new one, stores
  // it. The graph calls back into the component while it is active, so every derived class
  // calls SetFilterGraph(nullptr) in its own destructor.
  void SetFilterGraph(TFilterGraph* graph);
  void GraphDestroyed(TFilterGraph& graph) noexcept override;

 protected:
  TLinkedComponent() = default;
  ~TLinkedComponent() override = default;

 private:
  TFilterGraph* filterGraph_ = nullptr;
};
