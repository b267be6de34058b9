// The program as wayland.sh runs it: once the main window is on screen, the state named by
// STILLWICK_TEST_REQUEST_STATE ("maximized" or "fullscreen") is asked for the way a window
// decoration's button asks, and every size and state the window takes is reported on standard
// error ("test-hook: ...").
#include <QApplication>
#include <QTimer>
#include <QWindow>

#include <cstdio>

#include "uMain.h"

namespace {

// Runs as each application object comes into being; only the window system's one polls.
void InstallStateRequest() {
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  if (!app || !qEnvironmentVariableIsSet("STILLWICK_TEST_REQUEST_STATE"))
    return;
  const bool full = qEnvironmentVariable("STILLWICK_TEST_REQUEST_STATE") == "fullscreen";
  const Qt::WindowState requested = full ? Qt::WindowFullScreen : Qt::WindowMaximized;
  auto* poll = new QTimer(app);  // owned by the application
  QObject::connect(poll, &QTimer::timeout, app, [poll, requested] {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      QWindow* handle = qobject_cast<TFrmMain*>(widget) ? widget->windowHandle() : nullptr;
      if (!handle || !handle->isExposed())
        continue;
      poll->deleteLater();
      auto report = [handle] {
        std::fprintf(stderr, "test-hook: window %dx%d state %d\n", handle->width(),
                     handle->height(), static_cast<int>(handle->windowStates()));
      };
      for (auto signal : {&QWindow::widthChanged, &QWindow::heightChanged})
        QObject::connect(handle, signal, widget, report);
      QObject::connect(handle, &QWindow::windowStateChanged, widget, report);
      std::fprintf(stderr, "test-hook: requesting state %d\n", static_cast<int>(requested));
      handle->setWindowStates(handle->windowStates() | requested);
      return;
    }
  });
  poll->start(100);
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(InstallStateRequest)

int main(int argc, char** argv) {
  return RunStillwick(argc, argv);
}
