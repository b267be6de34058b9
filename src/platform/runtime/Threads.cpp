#include "platform/runtime/Threads.h"

#include <QCoreApplication>
#include <QThread>

#include <cstdio>
#include <cstdlib>

#include "platform/runtime/Diagnostics.h"

namespace platform {

bool IsMainThread() noexcept {
  const QCoreApplication* app = QCoreApplication::instance();
  return !app || QThread::currentThread() == app->thread();
}

void FailOffMainThread(const char* function, const char* file, int line) noexcept {
  std::fprintf(stderr, "Stillwick: %s (%s:%d) called off the main thread\n", function, file, line);
  std::abort();
}

CoalescingWakeup::CoalescingWakeup(std::function<void()> work)
    : work_(std::move(work)),
      run_(staticMetaObject.method(staticMetaObject.indexOfMethod("Run()"))) {
  AssertMainThread();
  // Resolved here, on the main thread, so a misspelt name fails at once and not silently.
  if (!run_.isValid())
    qFatal("CoalescingWakeup: no Run() to post to");
  // The object reaches other threads through locks of GStreamer or Qt the race detector
  // cannot see (a callback installed on an element, a picture's change callback).
  HappensBefore(this);
}

CoalescingWakeup::~CoalescingWakeup() {
  HappensAfter(this);
}

void CoalescingWakeup::Request() noexcept {
  HappensAfter(this);
  if (pending_.exchange(true, std::memory_order_acq_rel))
    return;
  bool posted = false;
  try {
    posted = run_.invoke(this, Qt::QueuedConnection);
  } catch (const std::exception& e) {
    LogLimited(lcPlatform(), "wake-up",
               QStringLiteral("no wake-up posted: ") + QString::fromUtf8(e.what()));
  }
  // Nothing queued: clear the flag again, or no later request would post one.
  if (!posted)
    pending_.store(false, std::memory_order_release);
  HappensBefore(this);
}

void CoalescingWakeup::Run() {
  pending_.store(false, std::memory_order_release);
  work_();
}

}  // namespace platform
