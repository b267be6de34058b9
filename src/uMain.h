#pragma once

// Start-up: the counter check, the application, the main window, the message loop.
int RunStillwick(int argc, char** argv);
