#pragma once
// The sentences the user reads when a graph's stream stops for good, one for each reason, with
// GStreamer's short text (or our own reason) after the colon. The only place they are made.

#include <string>

#include "platform/media/GraphEvent.h"

// "Capture stopped, the video device was lost: %s" and its siblings; empty for None.
std::string GraphFailureText(platform::StreamFailure failure, const std::string& why);
