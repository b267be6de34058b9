#include "platform/media/PipelineDriver.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <system_error>

#include "platform/media/GstRef.h"
#include "platform/runtime/Diagnostics.h"
#include "platform/runtime/Threads.h"

namespace platform {

namespace {
std::atomic<int> beingReleased{0};
}

// What the main thread and the driver's thread share; every field under `mutex`. The main
// thread writes the request (and the release) and the driver's thread the result; each waits
// on its own condition for the other.
struct PipelineDriver::Shared {
  std::mutex mutex;
  std::condition_variable work;      // the driver's thread waits here for a request
  std::condition_variable finished;  // the main thread waits here for a result

  GstRef<GstElement> pipeline;  // dropped by whichever thread ends last with it
  std::optional<ElementState> waiting;
  std::uint64_t waitingSerial = 0;
  std::optional<ElementState> running;
  std::uint64_t lastSerial = 0;      // of the last request made
  std::uint64_t finishedSerial = 0;  // of the last request done
  StateChange lastResult = StateChange::Failure;
  bool abandonedWait = false;  // a caller stopped waiting for the change under way
  bool released = false;
  bool detached = false;  // released without waiting for the end: counted in beingReleased
  bool done = false;      // the thread has let the pipeline go and is ending
};

namespace {

// The driver's thread: changes the pipeline's state as asked, one request at a time, then,
// once released, lets the pipeline go.
void Drive_Thread(const std::shared_ptr<PipelineDriver::Shared>& s) noexcept {
  std::unique_lock lock(s->mutex);
  for (;;) {
    s->work.wait(lock, [&] { return s->waiting || s->released; });
    if (!s->waiting)
      break;  // released, and the NULL it asked for is done
    const ElementState target = *s->waiting;
    const std::uint64_t serial = s->waitingSerial;
    s->waiting.reset();
    s->running = target;
    GstElement* pipeline = s->pipeline.get();
    lock.unlock();
    const StateChange result = SetState(pipeline, target);
    lock.lock();
    s->running.reset();
    s->lastResult = result;
    s->finishedSerial = serial;
    if (!s->waiting)
      s->abandonedWait = false;
    s->finished.notify_all();
  }
  GstRef<GstElement> last = std::move(s->pipeline);
  lock.unlock();
  last.reset();  // may be the last reference: the pipeline and its elements are freed here
  lock.lock();
  s->done = true;
  if (s->detached)
    --beingReleased;
  s->finished.notify_all();
}

}  // namespace

PipelineDriver::PipelineDriver(GstElement* pipeline) : shared_(std::make_shared<Shared>()) {
  shared_->pipeline = GstRef<GstElement>::Retain(pipeline);
}

PipelineDriver::~PipelineDriver() {
  Release(std::chrono::milliseconds(0));
}

void PipelineDriver::EnsureThread() {
  if (!thread_.joinable())
    thread_ = std::thread(Drive_Thread, shared_);
}

std::optional<StateChange> PipelineDriver::Change(ElementState target,
                                                  std::chrono::milliseconds wait) {
  AssertMainThread();
  std::unique_lock lock(shared_->mutex);
  if (shared_->released)
    return StateChange::Failure;
  const std::uint64_t serial = ++shared_->lastSerial;
  shared_->waiting = target;
  shared_->waitingSerial = serial;
  lock.unlock();
  EnsureThread();
  lock.lock();
  shared_->work.notify_one();
  if (!shared_->finished.wait_for(lock, wait, [&] { return shared_->finishedSerial >= serial; })) {
    shared_->abandonedWait = true;
    return std::nullopt;
  }
  return shared_->lastResult;
}

std::optional<ElementState> PipelineDriver::Pending() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->waiting ? shared_->waiting : shared_->running;
}

bool PipelineDriver::Held() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->abandonedWait && (shared_->running || shared_->waiting);
}

bool PipelineDriver::Release(std::chrono::milliseconds wait) noexcept {
  std::unique_lock lock(shared_->mutex);
  if (shared_->released)
    return shared_->done;
  shared_->released = true;
  shared_->waiting = ElementState::Null;
  shared_->waitingSerial = ++shared_->lastSerial;
  lock.unlock();
  try {
    EnsureThread();
  } catch (const std::system_error& e) {
    // No thread to be had: NULL here, whatever it costs, rather than a pipeline left running.
    LogLimited(lcPlatform(), "pipeline",
               QStringLiteral("no thread to stop a pipeline on: ") + QString::fromUtf8(e.what()));
    StopElement(shared_->pipeline.get());
    shared_->pipeline.reset();
    return true;
  }
  lock.lock();
  shared_->work.notify_one();
  if (shared_->finished.wait_for(lock, wait, [&] { return shared_->done; })) {
    lock.unlock();
    thread_.join();
    return true;
  }
  // The thread finishes on its own, with its share of the state.
  shared_->detached = true;
  ++beingReleased;
  lock.unlock();
  thread_.detach();
  return false;
}

int PipelinesBeingReleased() noexcept {
  return beingReleased.load();
}

}  // namespace platform
