#include "platform/GraphBus.h"

#include <QCoreApplication>
#include <QEvent>

#include <atomic>
#include <mutex>

#include "platform/GstRef.h"

namespace platform {

namespace {

const QEvent::Type kMessageEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

// One message on its way to the main thread. Built on a streaming thread; `published_`
// orders its fields before the main thread reads or frees them (Qt's queue lock is
// invisible to the thread checker).
class MessageEvent : public QEvent {
 public:
  MessageEvent(GstRef<GstMessage> message, std::uint64_t generation)
      : QEvent(kMessageEvent), message_(std::move(message)), generation_(generation) {
    published_.store(true, std::memory_order_release);
  }
  ~MessageEvent() override { published_.load(std::memory_order_acquire); }

  GstMessage* Message() const {
    published_.load(std::memory_order_acquire);
    return message_.get();
  }
  std::uint64_t Generation() const {
    published_.load(std::memory_order_acquire);
    return generation_;
  }

 private:
  GstRef<GstMessage> message_;
  std::uint64_t generation_;
  std::atomic<bool> published_{false};
};

}  // namespace

struct GraphBus::Link {
  explicit Link(QObject* receiver, std::uint64_t generation)
      : receiver(receiver), generation(generation) {}
  // Guards `receiver`: taken by every thread that posts on the bus (around the post) and by
  // the main thread when it detaches, so no post can reach a receiver that is going away.
  std::mutex mutex;
  QObject* receiver;
  const std::uint64_t generation;
};

class GraphBus::Receiver : public QObject {
 public:
  explicit Receiver(GraphBus& owner) : owner_(owner) {}

  bool event(QEvent* event) override {
    if (event->type() != kMessageEvent)
      return QObject::event(event);
    auto* message = static_cast<MessageEvent*>(event);
    // Posted before the last detach: it belongs to a pipeline that is gone.
    if (owner_.link_ && message->Generation() == owner_.generation_) {
      owner_.handler_(message->Message());
    }
    return true;
  }

 private:
  GraphBus& owner_;
};

namespace {

// Runs on whichever thread posts the message (streaming threads, the main thread during state
// changes). Only posts. Answering "drop" hands the bus's reference to the message over to us.
GstBusSyncReply PostToMain_Streaming(GstBus*, GstMessage* message, gpointer data) noexcept {
  auto owned = GstRef<GstMessage>::Adopt(message);
  auto& link = **static_cast<std::shared_ptr<GraphBus::Link>*>(data);
  std::lock_guard lock(link.mutex);
  if (link.receiver) {
    auto event = std::make_unique<MessageEvent>(std::move(owned), link.generation);
    QCoreApplication::postEvent(link.receiver, event.release());  // Qt owns posted events
  }
  return GST_BUS_DROP;
}

// The bus calls this when it is finalized, after its last post.
void ReleaseLink(gpointer data) noexcept {
  std::unique_ptr<std::shared_ptr<GraphBus::Link>> link(
      static_cast<std::shared_ptr<GraphBus::Link>*>(data));
}

}  // namespace

GraphBus::GraphBus(Handler handler)
    : handler_(std::move(handler)), receiver_(std::make_unique<Receiver>(*this)) {}

GraphBus::~GraphBus() {
  Detach();
}

void GraphBus::Attach(GstElement* pipeline) {
  Detach();
  if (!pipeline)
    return;
  auto bus = GstRef<GstBus>::Adopt(gst_element_get_bus(pipeline));
  if (!bus)
    return;
  link_ = std::make_shared<Link>(receiver_.get(), ++generation_);
  // The handler stays installed for the bus's whole life (a replaced handler may still be
  // running on another thread); Detach silences it through the link instead.
  auto shared = std::make_unique<std::shared_ptr<Link>>(link_);
  gst_bus_set_sync_handler(bus.get(), PostToMain_Streaming, shared.release(), ReleaseLink);
}

void GraphBus::Detach() noexcept {
  if (!link_)
    return;
  {
    std::lock_guard lock(link_->mutex);
    link_->receiver = nullptr;
  }
  link_.reset();
  ++generation_;
  // Queued messages hold references to the pipeline's elements; let them go now.
  QCoreApplication::removePostedEvents(receiver_.get(), kMessageEvent);
}

}  // namespace platform
