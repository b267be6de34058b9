#pragma once
// Waiting on the main thread while the event loop delivers what other threads post.

#include <functional>

namespace harness {

// Runs the event loop, deferred deletions included, until `done` holds or `ms` pass; returns
// whether it held.
bool WaitFor(const std::function<bool()>& done, int ms = 15000);

}  // namespace harness
