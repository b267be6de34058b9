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

 private:
  // Streaming thread. Takes over `sample` (transfer full). A frame the main thread has not
  // taken yet is replaced, so frames never pile up; the wake-up already pending takes the
  // newer one.
  void Put_Streaming(GstSample* sample) noexcept {
    HappensAfter(this);
    if (sample) {
      if (GstSample* replaced = newest_.exchange(sample, std::memory_order_acq_rel))
        gst_sample_unref(replaced);
      wakeup_.Request();
    }
    HappensBefore(this);
  }

  // Main thread: shows the newest frame, if one is waiting.
  void TakeNewest() {
    auto sample = GstRef<GstSample>::Adopt(newest_.exchange(nullptr, std::memory_order_acq_rel));
    if (sample && surface_)
      surface_->ShowSample(sample);
  }

  std::atomic<GstSample*> newest_{nullptr};  // put by the streaming thread, taken by the main
  QPointer<VideoRendererSurface> surface_;   // main thread only; null once the surface is gone
  CoalescingWakeup wakeup_;
};

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

RendererElement::RendererElement()
    : element_(GstRef<GstElement>::Adopt(GST_ELEMENT(g_object_new(GST_TYPE_APP_SINK, nullptr)))),
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
}

RendererElement::~RendererElement() {
  AssertMainThread();
  Stop();
  // Whoever else still holds the element can no longer reach the hand-off.
  GstAppSinkCallbacks none{};
  gst_app_sink_set_callbacks(GST_APP_SINK(element_.get()), &none, nullptr, nullptr);
}

void RendererElement::Stop() {
  StopElement(element_.get());
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
