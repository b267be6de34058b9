#pragma once
// Whether a modal window is open, and being told when it has closed. Main thread.

#include <functional>

namespace platform {

// True while a modal window (a dialog run with exec(), a message box) is open.
bool ModalWindowOpen();

// Calls `then` once, from the event loop, after the modal window open now has been hidden or
// destroyed; at once (also from the event loop) when none is open.
void AfterModalWindowCloses(std::function<void()> then);

}  // namespace platform
