#pragma once
// Where GStreamer's threads meet the main thread. They enter our code through exactly three
// doors: the grabber's callback (GrabberCallback, runs the frame handler), the renderer's
// hand-off (RendererElement) and the bus sync handler (GraphBus). Every function that runs on
// such a thread is named `..._Streaming` or says so on its declaration, is noexcept, touches no
// widget and reaches the main thread only through a CoalescingWakeup or a posted event.

#include <QMetaMethod>
#include <QObject>

#include <atomic>
#include <functional>

#if defined(__SANITIZE_THREAD__)
#define STILLWICK_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define STILLWICK_TSAN 1
#endif
#endif
#if defined(STILLWICK_TSAN)
#include <sanitizer/tsan_interface.h>
#endif

namespace platform {

// True on the thread of the application object (true too while there is none yet).
bool IsMainThread() noexcept;

// Aborts naming the caller when called off the main thread. The public entries of the capture
// components begin with it. Checked in test and sanitizer builds; nothing in release builds.
// The caller is named by the compiler builtins rather than std::source_location, which the clang
// 14 tools that check this code cannot read with this standard library.
void FailOffMainThread(const char* function, const char* file, int line) noexcept;
inline void AssertMainThread([[maybe_unused]] const char* function = __builtin_FUNCTION(),
                             [[maybe_unused]] const char* file = __builtin_FILE(),
                             [[maybe_unused]] int line = __builtin_LINE()) noexcept {
#if defined(STILLWICK_THREAD_CHECKS)
  if (!IsMainThread())
    FailOffMainThread(function, file, line);
#endif
}

// The race detector's view of an order that GStreamer's or Qt's own locks guarantee, which it
// cannot see: everything this thread wrote before HappensBefore(object) is visible to another
// thread after its HappensAfter(object). Nothing outside ThreadSanitizer builds.
inline void HappensBefore([[maybe_unused]] const void* object) noexcept {
#if defined(STILLWICK_TSAN)
  __tsan_release(const_cast<void*>(object));
#endif
}
inline void HappensAfter([[maybe_unused]] const void* object) noexcept {
#if defined(STILLWICK_TSAN)
  __tsan_acquire(const_cast<void*>(object));
#endif
}

// Wakes the main thread to run `work` there. Any thread may Request(); requests made while one
// is pending fold into it (one queued call, however many frames came meanwhile). The pending
// flag is cleared on the main thread just before `work` runs, so a request made while it runs
// wakes it once more and nothing is missed. Created and destroyed on the main thread; a
// wake-up still queued then is dropped with the object.
class CoalescingWakeup final : public QObject {
  Q_OBJECT

 public:
  explicit CoalescingWakeup(std::function<void()> work);
  ~CoalescingWakeup() override;
  CoalescingWakeup(const CoalescingWakeup&) = delete;
  CoalescingWakeup& operator=(const CoalescingWakeup&) = delete;

  // Any thread. Writes nothing the main thread reads but the flag: Qt builds the queued call.
  void Request() noexcept;

 private:
  Q_INVOKABLE void Run();

  std::function<void()> work_;  // main thread only
  std::atomic<bool> pending_{false};
  const QMetaMethod run_;
};

}  // namespace platform
