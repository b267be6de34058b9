#include "capture/TLinkedComponent.h"

void TLinkedComponent::SetFilterGraph(TFilterGraph* graph) {
  if (graph == filterGraph_)
    return;
  auto* listener = dynamic_cast<IGraphListener*>(this);
  if (filterGraph_) {
    filterGraph_->UnlinkFilter(this);
    if (listener)
      filterGraph_->UnlinkListener(listener);
  }
  if (graph) {
    graph->LinkFilter(this);
    if (listener)
      graph->LinkListener(listener);
  }
  filterGraph_ = graph;
}

void TLinkedComponent::GraphDestroyed(TFilterGraph& graph) noexcept {
  if (&graph == filterGraph_)
    filterGraph_ = nullptr;
}
