#pragma once
// Whether an error box says that a graph stopped for `failure`: it begins with that reason's
// sentence, whatever GStreamer's text after it.

#include <string>

#include "capture/GraphFailureText.h"

inline bool SaysFailure(const std::string& box, platform::StreamFailure failure) {
  return box.rfind(GraphFailureText(failure, ""), 0) == 0;
}
