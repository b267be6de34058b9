#include "widgets/FixedSizeKeeper.h"

#include <QEvent>
#include <QGuiApplication>
#include <QTimer>
#include <QWindow>

namespace {
constexpr Qt::WindowStates kLarge = Qt::WindowMaximized | Qt::WindowFullScreen;

bool OnWayland() {
  return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}
}  // namespace

FixedSizeKeeper::FixedSizeKeeper(QWidget* window) : QObject(window), window_(window) {
  window->installEventFilter(this);
  WatchWindowHandle();
}

void FixedSizeKeeper::WatchWindowHandle() {
  QWindow* handle = window_ ? window_->windowHandle() : nullptr;
  if (!handle || handle == watchedHandle_)
    return;
  watchedHandle_ = handle;
  // Emitted at once when the state is asked for, before the compositor answers: the only moment
  // to make the window able to take the size the compositor will configure.
  connect(handle, &QWindow::windowStateChanged, this, [this, handle](Qt::WindowState state) {
    if ((state & kLarge) && OnWayland())
      handle->setMaximumSize(QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
  });
}

bool FixedSizeKeeper::eventFilter(QObject* watched, QEvent* event) {
  if (watched != window_)
    return QObject::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::WinIdChange:
    case QEvent::Show:
      WatchWindowHandle();
      break;
    case QEvent::WindowStateChange:
      if ((window_->windowState() & kLarge) && !restorePending_) {
        restorePending_ = true;
        window_->update();
      }
      break;
    case QEvent::Paint:
      // Back only after a frame in the new state has gone out: a request to come back that the
      // compositor sees before that frame would be taken as no change.
      if (restorePending_)
        QTimer::singleShot(0, this, &FixedSizeKeeper::Restore);
      break;
    default:
      break;
  }
  return false;
}

void FixedSizeKeeper::Restore() {
  if (!restorePending_ || !window_)
    return;
  restorePending_ = false;
  window_->setWindowState(window_->windowState() & ~kLarge);
  if (QWindow* handle = window_->windowHandle())
    handle->setMaximumSize(window_->maximumSize());
}
