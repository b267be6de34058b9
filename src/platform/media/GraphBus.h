#pragma once
// Carries a pipeline's bus messages from whichever thread posts them to the main thread: a bus
// sync handler posts each message as a QEvent to a hidden QObject, which hands it to the
// owner's handler there. Messages of a pipeline that has been detached are never handed on,
// even those already on their way.

#include <gst/gst.h>

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>

namespace platform {

class GraphBus {
 public:
  // Runs on the main thread, once per message of the attached pipeline. Borrowed message.
  using Handler = std::function<void(GstMessage* message)>;

  // Main thread (the hidden receiver lives there).
  explicit GraphBus(Handler handler);
  ~GraphBus();
  GraphBus(const GraphBus&) = delete;
  GraphBus& operator=(const GraphBus&) = delete;

  // Starts handing on the messages of `pipeline`; detaches from a former one first.
  void Attach(GstElement* pipeline);
  // Stops handing on messages, and drops those already posted but not yet handled.
  void Detach() noexcept;

  struct Link;  // shared with the bus's sync handler

 private:
  class Receiver;
  Handler handler_;
  std::unique_ptr<Receiver> receiver_;
  std::shared_ptr<Link> link_;
  std::uint64_t generation_ = 0;  // of the attached pipeline; main thread only
};

}  // namespace platform
