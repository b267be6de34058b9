#pragma once
// Waiting on the main thread while the event loop delivers what other threads post.

#include <functional>

namespace harness {

// Runs the event loop, deferred deletions included, until `done` holds or `ms` pass; returns
// whether it held.
bool WaitFor(const std::function<bool()>& done, int ms = 15000);

// Runs the event loop until everything posted to the main thread before the call, and what its
// handlers posted, has been handled (zero timers are posted calls too). Once a pipeline has
// stopped, its threads post nothing more: a box that did not come by then does not come.
bool WaitForPostedEvents(int ms = 15000);

}  // namespace harness
