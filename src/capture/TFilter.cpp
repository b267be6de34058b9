#include "capture/TFilter.h"

TFilter::TFilter(std::string name) : name_(std::move(name)) {}

TFilter::~TFilter() {
  baseFilter_.Free();
  SetFilterGraph(nullptr);
}

void TFilter::NotifyFilterOperation(FilterOperation operation, int /*param*/) {
  switch (operation) {
    case FilterOperation::AboutToAdd:
      filter_ = baseFilter_.BindFilter();
      break;
    case FilterOperation::Added:
      break;
    case FilterOperation::AboutToRemove:
      if (filter_) {
        GstState state = GST_STATE_VOID_PENDING;
        // Only a settled state is acted on (a live source settles in PAUSED with NO_PREROLL);
        // one still changing is left to the graph, which takes the element to NULL on removal.
        const GstStateChangeReturn result =
            gst_element_get_state(filter_.get(), &state, nullptr, 0);
        const bool settled =
            result == GST_STATE_CHANGE_SUCCESS || result == GST_STATE_CHANGE_NO_PREROLL;
        if (settled && (state == GST_STATE_PAUSED || state == GST_STATE_PLAYING)) {
          gst_element_set_state(filter_.get(), GST_STATE_READY);
        }
      }
      break;
    case FilterOperation::Removed:
      filter_.reset();
      break;
  }
}
