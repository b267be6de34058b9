#include "capture/CaptureLog.h"

// Debug lines off by default: only the rules turn them on.
Q_LOGGING_CATEGORY(lcCapture, "stillwick.capture", QtInfoMsg)
