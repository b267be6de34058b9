#pragma once
// The main window driven as a user drives it: shown offscreen, a test camera picked from the
// device list and started.

#include <QSize>

#include <memory>
#include <string>

#include "TestCam.h"

class TFrmMain;

namespace harness {

// A main window, shown and active; its settings file is whatever the process chose.
std::unique_ptr<TFrmMain> OpenWindow();

// The display picture's size (empty when there is none) and depth.
QSize PictureSize(TFrmMain& window);
int PictureBits(TFrmMain& window);

// Lists `camera` alone, picks it and presses "启动采集", then waits for the graph to play and,
// unless "同步显示" is unticked, for a 24-bit frame of `size` in the display (default: the
// camera's one mode). Returns what did not happen, or nothing when all did.
std::string StartCamera(TFrmMain& window, const TestCameraSpec& camera, QSize size = {});

}  // namespace harness
