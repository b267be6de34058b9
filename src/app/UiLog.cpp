#include "app/UiLog.h"

// Debug lines off by default: only the rules turn them on.
Q_LOGGING_CATEGORY(lcUi, "stillwick.ui", QtInfoMsg)
