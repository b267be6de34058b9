#pragma once
// The window's diagnostics category, "stillwick.ui" (see platform/Diagnostics.h).

#include "platform/runtime/Diagnostics.h"

Q_DECLARE_LOGGING_CATEGORY(lcUi)
