#pragma once
// The media framework's start: once, on the main thread, before any device is listed or any
// graph is built. Takes out of the command line the options that are the framework's own.

namespace platform {

void InitializeMedia(int& argc, char**& argv);

}  // namespace platform
