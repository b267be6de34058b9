#include "HarnessWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QToolButton>

#include "HarnessEventLoop.h"
#include "uMain.h"

namespace harness {

std::unique_ptr<TFrmMain> OpenWindow() {
  auto window = std::make_unique<TFrmMain>();
  window->show();
  window->activateWindow();
  QApplication::processEvents();
  return window;
}

QSize PictureSize(TFrmMain& window) {
  TBitmap::Ref picture = window.Picture.Snapshot();
  return picture ? QSize(picture->Width(), picture->Height()) : QSize();
}

int PictureBits(TFrmMain& window) {
  TBitmap::Ref picture = window.Picture.Snapshot();
  return picture ? picture->BitCount() : 0;
}

std::string StartCamera(TFrmMain& window, const TestCameraSpec& camera, QSize size) {
  if (!size.isValid())
    size = QSize(camera.width, camera.height);
  TestCamSetCameras({camera});
  window.btnGetVCap->click();
  if (window.cbVCap->count() != 1)
    return "the test camera is not listed";
  window.cbVCap->setCurrentIndex(0);
  window.OpenPlay->click();
  if (!WaitFor([&] { return window.FGVCap.State() == GraphState::Playing; }, 20000))
    return "the graph does not play";
  if (window.CallBack->isChecked() &&
      !WaitFor([&] { return PictureSize(window) == size && PictureBits(window) == 24; }, 20000)) {
    return "no " + std::to_string(size.width()) + "x" + std::to_string(size.height()) +
           " frame in the display";
  }
  return {};
}

}  // namespace harness
