#pragma once
// The capture source as a linked component: keeps the chosen device's moniker in its BaseFilter
// block and binds the device's source element from it each time the graph becomes active.
// Main thread only.

#include <string>

#include "capture/LinkedFilter.h"
#include "capture/TFilterGraph.h"
#include "capture/TLinkedComponent.h"
#include "capture/TPersistentMemory.h"
#include "platform/media/GstRef.h"
#include "platform/media/Pipeline.h"

class TFilter : public TLinkedComponent {
 public:
  explicit TFilter(std::string name);
  // Frees the block, then unlinks from the graph.
  ~TFilter() override;
  TFilter(const TFilter&) = delete;
  TFilter& operator=(const TFilter&) = delete;

  const std::string& Name() const noexcept { return name_; }
  TBaseFilter& BaseFilter() noexcept { return baseFilter_; }
  const TBaseFilter& BaseFilter() const noexcept { return baseFilter_; }

  // The bound source element, or null. Borrowed.
  GstElement* GetBaseFilter() override { return filter_.get(); }
  std::string GetFilterName() override { return name_; }
  void NotifyFilterOperation(FilterOperation operation, int param) override;

 private:
  std::string name_;
  TBaseFilter baseFilter_;
  platform::GstRef<GstElement> filter_;  // from AboutToAdd until Removed
};
