#pragma once
// The capture layer's diagnostics category, "stillwick.capture" (see platform/Diagnostics.h).

#include "platform/runtime/Diagnostics.h"

Q_DECLARE_LOGGING_CATEGORY(lcCapture)
