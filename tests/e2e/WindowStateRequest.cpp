// The program as the end-to-end tests run it when they ask its window for a state: once the
// main window is on screen, STILLWICK_TEST_REQUEST_STATE ("maximized" or "fullscreen") is asked
// for the way a window decoration's button asks, and every size and state the window takes is
// reported on standard error ("test-hook: ...").
#include <QApplication>
#include <QTimer>
#include <QWindow>

#include <cstdio>

#include "uMain.h"

namespace {

void RequestState(TFrmMain* window, Qt::WindowState requested) {
  QWindow* handle = window->windowHandle();
  auto report = [handle] {
    std::fprintf(stderr, "test-hook: window %dx%d state %d\n", handle->width(), handle->height(),
                 static_cast<int>(handle->windowStates()));
  };
  QObject::connect(handle, &QWindow::widthChanged, window, report);
  QObject::connect(handle, &QWindow::heightChanged, window, report);
  QObject::connect(handle, &QWindow::windowStateChanged, window, report);
  std::fprintf(stderr, "test-hook: requesting state %d\n", static_cast<int>(requested));
  handle->setWindowStates(handle->windowStates() | requested);
}

// Runs as each application object comes into being; only the window system's one polls.
void InstallStateRequest() {
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  if (!app || !qEnvironmentVariableIsSet("STILLWICK_TEST_REQUEST_STATE"))
    return;
  const Qt::WindowState requested =
      qEnvironmentVariable("STILLWICK_TEST_REQUEST_STATE") == QLatin1String("fullscreen")
          ? Qt::WindowFullScreen
          : Qt::WindowMaximized;
  auto* poll = new QTimer(app);  // owned by the application
  poll->setInterval(100);
  QObject::connect(poll, &QTimer::timeout, app, [poll, requested] {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* window = qobject_cast<TFrmMain*>(widget);
      if (window && window->windowHandle() && window->windowHandle()->isExposed()) {
        poll->deleteLater();
        RequestState(window, requested);
        return;
      }
    }
  });
  poll->start();
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(InstallStateRequest)

int main(int argc, char** argv) {
  return RunStillwick(argc, argv);
}
