#include "platform/media/GraphBus.h"

#include <QCoreApplication>
#include <QEvent>

#include <mutex>

#include "platform/media/GstRef.h"
#include "platform/runtime/Diagnostics.h"

namespace platform {

namespace {

const QEvent::Type kMessageEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

// Guards every link's `receiver`, so that no post reaches a receiver that is going away. Taken
// by every thread that posts on an attached bus (around building and posting the event) and
// by the main thread when it attaches, detaches and receives. Taking it on both sides also
// orders each event's construction before its use: the locks of Qt's queue and of GStreamer
// are invisible to the thread checker, ours is not.
std::mutex gPostMutex;

// One message on its way to the main thread.
class MessageEvent : public QEvent {
 public:
  MessageEvent(GstRef<GstMessage> message, std::uint64_t generation)
      : QEvent(kMessageEvent), message_(std::move(message)), generation_(generation) {}

  GstMessage* Message() const { return message_.get(); }
  std::uint64_t Generation() const { return generation_; }

 private:
  GstRef<GstMessage> message_;
  std::uint64_t generation_;
};

}  // namespace

struct GraphBus::Link {
  Link(QObject* target, std::uint64_t gen) : receiver(target), generation(gen) {}
  QObject* receiver;  // guarded by gPostMutex; null once detached
  const std::uint64_t generation;
};

class GraphBus::Receiver : public QObject {
 public:
  explicit Receiver(GraphBus& owner) : owner_(owner) {}

  bool event(QEvent* event) override {
    { std::lock_guard lock(gPostMutex); }  // see gPostMutex
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

// The bus sync handler, one of the doors from GStreamer's threads: runs on whichever thread
// posts the message (streaming threads, the main thread during state changes), and only posts
// it on to the main thread. Answering "drop" hands the bus's reference to the message to us.
GstBusSyncReply PostToMain_Streaming(GstBus*, GstMessage* message, gpointer data) noexcept {
  auto owned = GstRef<GstMessage>::Adopt(message);
  try {
    std::lock_guard lock(gPostMutex);
    const GraphBus::Link& link = **static_cast<std::shared_ptr<GraphBus::Link>*>(data);
    if (link.receiver) {
      auto event = std::make_unique<MessageEvent>(std::move(owned), link.generation);
      QCoreApplication::postEvent(link.receiver, event.release());  // Qt owns posted events
    }
  } catch (const std::exception& e) {
    LogLimited(lcPlatform(), "bus",
               QStringLiteral("a message was lost on its way: ") + QString::fromUtf8(e.what()));
  }
  return GST_BUS_DROP;
}

// The bus calls this when it is finalized, after its last post, on whichever thread lets go of
// the bus last.
void ReleaseLink(gpointer data) noexcept {
  std::lock_guard lock(gPostMutex);
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
  std::unique_ptr<std::shared_ptr<Link>> shared;
  {
    std::lock_guard lock(gPostMutex);
    link_ = std::make_shared<Link>(receiver_.get(), ++generation_);
    shared = std::make_unique<std::shared_ptr<Link>>(link_);
  }
  // The handler stays installed for the bus's whole life (a replaced handler may still be
  // running on another thread); Detach silences it through the link instead.
  gst_bus_set_sync_handler(bus.get(), PostToMain_Streaming, shared.release(), ReleaseLink);
}

void GraphBus::Detach() noexcept {
  if (!link_)
    return;
  {
    std::lock_guard lock(gPostMutex);
    link_->receiver = nullptr;
  }
  link_.reset();
  ++generation_;
  // Queued messages hold references to the pipeline's elements; let them go now.
  QCoreApplication::removePostedEvents(receiver_.get(), kMessageEvent);
}

}  // namespace platform
