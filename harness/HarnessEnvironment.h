#pragma once
// The world a test or benchmark process runs in: offscreen Qt, a private GStreamer registry,
// no real cameras or sound servers, and the test camera registered with an empty list.

#include <string>

namespace harness {

// Before the application object is made. Values already set in the environment win.
void PrepareEnvironment(const std::string& registryFile);
// After the application object is made.
void StartMedia(int& argc, char**& argv);

}  // namespace harness
