#include "platform/media/RendererElement.h"

#include <gst/app/gstappsink.h>

#include <atomic>

#include "platform/media/Pipeline.h"
#include "platform/runtime/Threads.h"

namespace platform {

// The renderer's hand-off from the streaming thread to the surface: one slot holding the newest
// sample and one coalescing wake-up that has the main thread show it. Created and destroyed on
// the main thread, so the wake-up runs there, and one still queued when it goes is dropped.
class RendererHandoff {
 public:
  explicit RendererHandoff(VideoRendererSurface* surface)
      : surface_(surface), wakeup_([this] { TakeNewest(); }) {
    // GStreamer orders this set-up before the first callback, and the last callback before the
    // state change to NULL returns, through locks the race detector cannot see.
    HappensBefore(this);
  }
  ~RendererHandoff() {
    HappensAfter(this);
    if (GstSample* left = newest_.exchange(nullptr))
      gst_sample_unref(left);
  }
  RendererHandoff(const RendererHandoff&) = delete;
  RendererHandoff& operator=(const RendererHandoff&) = delete;

  // The renderer's hand-off, one of the doors from GStreamer's threads: the sink's render and
  // preroll callbacks, on the streaming thread. The preroll one lets a paused, not-live stream
  // show its first frame, as a renderer does when paused.
  static GstFlowReturn NewSample_Streaming(GstAppSink* sink, gpointer handoff) noexcept {
    static_cast<RendererHandoff*>(handoff)->Put_Streaming(gst_app_sink_try_pull_sample(sink, 0));
    return GST_FLOW_OK;
  }
  static GstFlowReturn NewPreroll_Streaming(GstAppSink* sink, gpointer handoff) noexcept {
    static_cast<RendererHandoff*>(handoff)->Put_Streaming(gst_app_sink_try_pull_preroll(sink, 0));
    return GST_FLOW_OK;
  }

  // Main thread: the graph is about to stop. The surface keeps its frame as a copy of its own,
  // and the frames still coming are dropped until the sink starts again, so that none of the
  // source's buffers is out when the source stops.
  void LetGo() {
    refusing_.store(true, std::memory_order_release);
    DropNewest();
    if (surface_)
      surface_->OwnFrame();
  }
  // The state changes of the sink, on the thread that makes them: it starts (READY to PAUSED),
  // and frames are shown again; it has stopped (PAUSED to READY), and no frame comes any more:
  // the one waiting goes, and the surface is to keep its own as a copy.
  void Started() noexcept { refusing_.store(false, std::memory_order_release); }
  void Stopped() noexcept {
    HappensAfter(this);
    DropNewest();
    stopped_.store(true, std::memory_order_release);
    wakeup_.Request();
    HappensBefore(this);
  }

 private:
  // Streaming thread. Takes over `sample` (transfer full). A frame the main thread has not
  // taken yet is replaced, so frames never pile up; the wake-up already pending takes the
  // newer one.
  void Put_Streaming(GstSample* sample) noexcept {
    HappensAfter(this);
    if (sample && refusing_.load(std::memory_order_acquire)) {
      gst_sample_unref(sample);
    } else if (sample) {
      if (GstSample* replaced = newest_.exchange(sample, std::memory_order_acq_rel))
        gst_sample_unref(replaced);
      wakeup_.Request();
    }
    HappensBefore(this);
  }

  void DropNewest() noexcept {
    if (GstSample* left = newest_.exchange(nullptr, std::memory_order_acq_rel))
      gst_sample_unref(left);
  }

  // Main thread: shows the newest frame, if one is waiting.
  void TakeNewest() {
    auto sample = GstRef<GstSample>::Adopt(newest_.exchange(nullptr, std::memory_order_acq_rel));
    if (sample && surface_ && !refusing_.load(std::memory_order_acquire))
      surface_->ShowSample(sample);
    if (stopped_.exchange(false, std::memory_order_acq_rel) && surface_)
      surface_->OwnFrame();
  }

  std::atomic<GstSample*> newest_{nullptr};  // put by the streaming thread, taken by the main
  std::atomic<bool> refusing_{false};        // set by LetGo, cleared when the sink starts
  std::atomic<bool> stopped_{false};         // set when the sink stops, taken by the main
  QPointer<VideoRendererSurface> surface_;   // main thread only; null once the surface is gone
  CoalescingWakeup wakeup_;
};

}  // namespace platform

namespace {

// An appsink that tells the renderer's hand-off when it starts and stops, and that lets go of the
// last frame it handed out as it stops: appsink (1.22) keeps that frame in the sample it reuses
// for every pull until it is started again. Held past the source's stop, it would keep the
// source's buffer pool, and the device, open.
struct StillwickRendererSink {
  GstAppSink parent;
  platform::RendererHandoff* handoff;  // guarded by the object lock; null once the owner is gone
};

struct StillwickRendererSinkClass {
  GstAppSinkClass parent_class;
};

G_DEFINE_TYPE(StillwickRendererSink, stillwick_renderer_sink, GST_TYPE_APP_SINK)

// Runs on whichever thread changes the sink's state.
GstStateChangeReturn ChangeState(GstElement* element, GstStateChange transition) noexcept {
  auto* self = reinterpret_cast<StillwickRendererSink*>(element);
  auto tell = [self](void (platform::RendererHandoff::*what)()) {
    GST_OBJECT_LOCK(self);
    if (self->handoff)
      (self->handoff->*what)();
    GST_OBJECT_UNLOCK(self);
  };
  if (transition == GST_STATE_CHANGE_READY_TO_PAUSED)
    tell(&platform::RendererHandoff::Started);
  const GstStateChangeReturn result =
      GST_ELEMENT_CLASS(stillwick_renderer_sink_parent_class)->change_state(element, transition);
  if (transition == GST_STATE_CHANGE_PAUSED_TO_READY) {
    tell(&platform::RendererHandoff::Stopped);
    // Nothing streams now. Only appsink's start empties the kept sample; stopping it again
    // leaves it as stopped as it was.
    GstBaseSinkClass* sinkClass = GST_BASE_SINK_CLASS(stillwick_renderer_sink_parent_class);
    sinkClass->start(GST_BASE_SINK(element));
    sinkClass->stop(GST_BASE_SINK(element));
  }
  return result;
}

void stillwick_renderer_sink_init(StillwickRendererSink* self) {
  self->handoff = nullptr;
}

void stillwick_renderer_sink_class_init(StillwickRendererSinkClass* klass) {
  GST_ELEMENT_CLASS(klass)->change_state = ChangeState;
}

void SetHandoff(GstElement* element, platform::RendererHandoff* handoff) {
  auto* self = reinterpret_cast<StillwickRendererSink*>(element);
  GST_OBJECT_LOCK(self);
  self->handoff = handoff;
  GST_OBJECT_UNLOCK(self);
}

}  // namespace

namespace platform {

void RendererVideoWindow::PutOwner(QWidget* owner) {
  if (surface_)
    surface_->Reparent(owner);
}

void RendererVideoWindow::SetWindowPosition(int left, int top, int width, int height) {
  if (surface_)
    surface_->setGeometry(left, top, width, height);
}

void RendererVideoWindow::PutCaption(const QString& caption) {
  if (surface_)
    surface_->setWindowTitle(caption);
}

void RendererVideoWindow::PutMessageDrain(QWidget* drain) {
  if (surface_)
    surface_->SetMessageDrain(drain);
}

void RendererVideoWindow::PutVisible(bool visible) {
  if (surface_)
    surface_->SetRequestedVisible(visible);
}

void RendererVideoWindow::PutPictureSource(VideoRendererSurface::PictureSource source) {
  if (surface_)
    surface_->SetPictureSource(std::move(source));
}

RendererElement::RendererElement()
    : element_(GstRef<GstElement>::Adopt(
          GST_ELEMENT(g_object_new(stillwick_renderer_sink_get_type(), nullptr)))),
      surface_(std::make_unique<VideoRendererSurface>()),
      handoff_(std::make_unique<RendererHandoff>(surface_.get())),
      videoWindow_(surface_.get()) {
  AssertMainThread();
  GstAppSink* sink = GST_APP_SINK(element_.get());
  const GstRef<GstCaps> caps = VideoRendererSurface::DrawableCaps();
  gst_app_sink_set_caps(sink, caps.get());
  // A live preview shows each frame as it comes: waiting on the clock would only hold the
  // streaming thread (and the grabber ahead of it) back by the pipeline's latency, and frames
  // with poor camera timestamps would be shown late or dropped.
  gst_base_sink_set_sync(GST_BASE_SINK(sink), FALSE);
  // The hand-off keeps the newest frame itself; the sink keeps none besides.
  gst_app_sink_set_max_buffers(sink, 1);
  gst_app_sink_set_drop(sink, TRUE);
  gst_base_sink_set_last_sample_enabled(GST_BASE_SINK(sink), FALSE);
  gst_app_sink_set_emit_signals(sink, FALSE);

  GstAppSinkCallbacks callbacks{};
  callbacks.new_preroll = &RendererHandoff::NewPreroll_Streaming;
  callbacks.new_sample = &RendererHandoff::NewSample_Streaming;
  gst_app_sink_set_callbacks(sink, &callbacks, handoff_.get(), nullptr);
  SetHandoff(element_.get(), handoff_.get());
}

RendererElement::~RendererElement() {
  AssertMainThread();
  Stop();
  // Whoever else still holds the element can no longer reach the hand-off.
  SetHandoff(element_.get(), nullptr);
  GstAppSinkCallbacks none{};
  gst_app_sink_set_callbacks(GST_APP_SINK(element_.get()), &none, nullptr, nullptr);
}

void RendererElement::Stop() {
  StopElement(element_.get());
}

void RendererElement::LetGoOfFrames() {
  handoff_->LetGo();
}

bool RendererElement::HasConnectedPad() const {
  bool connected = false;
  gst_element_foreach_pad(
      element_.get(),
      [](GstElement*, GstPad* pad, gpointer result) -> gboolean {
        if (!gst_pad_is_linked(pad))
          return TRUE;
        *static_cast<bool*>(result) = true;
        return FALSE;
      },
      &connected);
  return connected;
}

void RendererElement::DisconnectPads() {
  platform::DisconnectPads(element_.get());
}

}  // namespace platform
