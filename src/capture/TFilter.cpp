#include "capture/TFilter.h"

#include "platform/runtime/Threads.h"

TFilter::TFilter(std::string name) : name_(std::move(name)) {}

TFilter::~TFilter() {
  platform::AssertMainThread();
  baseFilter_.Free();
  SetFilterGraph(nullptr);
}

void TFilter::NotifyFilterOperation(FilterOperation operation, int /*param*/) {
  platform::AssertMainThread();
  switch (operation) {
    case FilterOperation::AboutToAdd:
      filter_ = baseFilter_.BindFilter();
      break;
    case FilterOperation::Added:
      break;
    case FilterOperation::AboutToRemove:
      if (filter_) {
        // Only a settled state is acted on; one still changing is left to the graph, which
        // takes the element to NULL on removal.
        const auto state = platform::SettledState(filter_.get());
        if (state == platform::ElementState::Paused || state == platform::ElementState::Playing)
          platform::SetState(filter_.get(), platform::ElementState::Ready);
      }
      break;
    case FilterOperation::Removed:
      filter_.reset();
      break;
  }
}
