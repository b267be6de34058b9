#include "HarnessEventLoop.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <QTimer>

#include <memory>

namespace harness {

bool WaitFor(const std::function<bool()>& done, int ms) {
  QDeadlineTimer deadline(ms);
  while (!done()) {
    if (deadline.hasExpired())
      return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    // As a running event loop would; processEvents alone leaves them.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QThread::msleep(2);
  }
  return true;
}

bool WaitForPostedEvents(int ms) {
  // Posted events come in order: a call posted now comes after them, and one it posts comes
  // after what their handlers posted in turn. Shared, so a call after a timeout finds it.
  auto handled = std::make_shared<bool>(false);
  QTimer::singleShot(0, QCoreApplication::instance(), [handled] {
    QTimer::singleShot(0, QCoreApplication::instance(), [handled] { *handled = true; });
  });
  return WaitFor([&] { return *handled; }, ms);
}

}  // namespace harness
