#pragma once
// A pipeline's state changes, made on a thread of the pipeline's own, so that the main thread
// waits on its elements only as long as it chooses. An element may hold a change as long as it
// likes: pipewiresrc waits up to 30 s, several times over, for PipeWire to start its stream,
// and any other change of the pipeline waits behind it on the state lock meanwhile.
//
// Requests name a target state, so one made while another waits its turn replaces it. The
// caller waits for its request up to a limit it gives; one not done by then goes on without it.
// Released, the driver takes the pipeline to NULL after whatever is under way and lets it go:
// its last reference ends on the driver's thread when that comes after the release.
//
// Threads: every entry is the main thread's. The driver's thread is ours, not GStreamer's; in
// gst_element_set_state the elements' own state code runs there and may post on the bus (the
// bus sync handler then runs there). The hand-offs between the two threads are the request,
// the result and the release, all under the driver's mutex (see Shared).

#include <gst/gst.h>

#include <chrono>
#include <memory>
#include <optional>
#include <thread>

#include "platform/media/Pipeline.h"

namespace platform {

class PipelineDriver {
 public:
  // Keeps a reference to `pipeline`. The thread starts with the first request.
  explicit PipelineDriver(GstElement* pipeline);
  // Release(0): never waits.
  ~PipelineDriver();
  PipelineDriver(const PipelineDriver&) = delete;
  PipelineDriver& operator=(const PipelineDriver&) = delete;

  // Asks for `target` (replacing a request that has not begun) and waits up to `wait` for it:
  // how the change went, or nothing while it is still under way. Failure once released.
  std::optional<StateChange> Change(ElementState target, std::chrono::milliseconds wait);
  // The target of the request under way or waiting its turn; nothing while idle.
  std::optional<ElementState> Pending() const;
  // Whether a change has outlasted the wait of the caller who asked for it and is still under
  // way: an element is holding it, and further waits would only add to the time lost.
  bool Held() const;
  // Takes the pipeline to NULL once what is under way is done, then drops the driver's reference
  // to it. True when all that is done within `wait`; false when it is left to finish on its own.
  bool Release(std::chrono::milliseconds wait) noexcept;

  struct Shared;

 private:
  void EnsureThread();

  std::shared_ptr<Shared> shared_;
  std::thread thread_;  // joined when released in time, else detached
};

// Pipelines released but still on their way to NULL, process-wide: what an orderly exit may
// wait for. Any thread.
int PipelinesBeingReleased() noexcept;

}  // namespace platform
