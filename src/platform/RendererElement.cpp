#include "platform/RendererElement.h"

#include <gst/app/gstappsink.h>

#include <QCoreApplication>
#include <QMetaMethod>
#include <QObject>
#include <QThread>

#include <atomic>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace platform {

namespace {

bool IsMainThread() {
  return QCoreApplication::instance() &&
         QThread::currentThread() == QCoreApplication::instance()->thread();
}

// GStreamer orders the hand-off's set-up before the first callback and the last callback before
// the state change to NULL returns, through GLib locks that ThreadSanitizer cannot see. These
// tell it so; they compile to nothing elsewhere.
inline void AnnounceHappensBefore([[maybe_unused]] const void* object) noexcept {
#if defined(__SANITIZE_THREAD__)
  __tsan_release(const_cast<void*>(object));
#endif
}
inline void AssumeHappenedBefore([[maybe_unused]] const void* object) noexcept {
#if defined(__SANITIZE_THREAD__)
  __tsan_acquire(const_cast<void*>(object));
#endif
}

}  // namespace

// The hand-off from the streaming thread to the surface. A QObject living on the main thread,
// so the wake-up it posts runs there, and a wake-up still queued when it is destroyed is
// dropped with it.
class RendererHandoff : public QObject {
  Q_OBJECT

 public:
  explicit RendererHandoff(VideoRendererSurface* surface) : surface_(surface) {
    // Resolved here, on the main thread, so a misspelt name fails at once and not silently.
    if (!takeNewest_.isValid())
      qFatal("RendererElement: no TakeNewest() to post to");
    AnnounceHappensBefore(this);
  }
  ~RendererHandoff() override {
    AssumeHappenedBefore(this);
    if (GstSample* left = newest_.exchange(nullptr))
      gst_sample_unref(left);
  }

  // The sink's render and preroll callbacks (streaming thread). The preroll one lets a paused,
  // not-live stream show its first frame, as a renderer does when paused.
  static GstFlowReturn NewSample_Streaming(GstAppSink* sink, gpointer handoff) noexcept {
    static_cast<RendererHandoff*>(handoff)->Put_Streaming(gst_app_sink_try_pull_sample(sink, 0));
    return GST_FLOW_OK;
  }
  static GstFlowReturn NewPreroll_Streaming(GstAppSink* sink, gpointer handoff) noexcept {
    static_cast<RendererHandoff*>(handoff)->Put_Streaming(gst_app_sink_try_pull_preroll(sink, 0));
    return GST_FLOW_OK;
  }

  // Main thread: shows the newest frame, if one is waiting.
  Q_INVOKABLE void TakeNewest() {
    auto sample = GstRef<GstSample>::Adopt(newest_.exchange(nullptr, std::memory_order_acq_rel));
    if (sample && surface_)
      surface_->ShowSample(std::move(sample));
  }

 private:
  // Streaming thread. Takes over `sample` (transfer full). A frame the main thread has not
  // taken yet is replaced, so frames never pile up, and only an empty slot posts a wake-up:
  // the one already queued will take the newer frame. The wake-up is built inside Qt, so this
  // thread writes no memory that the main thread reads besides the slot.
  void Put_Streaming(GstSample* sample) noexcept {
    AssumeHappenedBefore(this);
    if (sample) {
      if (GstSample* replaced = newest_.exchange(sample, std::memory_order_acq_rel)) {
        gst_sample_unref(replaced);
      } else if (!takeNewest_.invoke(this, Qt::QueuedConnection)) {
        // No wake-up could be queued: empty the slot again, or no later frame would post one.
        if (GstSample* orphan = newest_.exchange(nullptr, std::memory_order_acq_rel))
          gst_sample_unref(orphan);
      }
    }
    AnnounceHappensBefore(this);
  }

  const QMetaMethod takeNewest_ =
      staticMetaObject.method(staticMetaObject.indexOfMethod("TakeNewest()"));
  std::atomic<GstSample*> newest_{nullptr};  // put by the streaming thread, taken by the main
  QPointer<VideoRendererSurface> surface_;   // main thread only; null once the surface is gone
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
  Q_ASSERT(IsMainThread());
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
  Q_ASSERT(IsMainThread());
  Stop();
  // Whoever else still holds the element can no longer reach the hand-off.
  GstAppSinkCallbacks none{};
  gst_app_sink_set_callbacks(GST_APP_SINK(element_.get()), &none, nullptr, nullptr);
}

void RendererElement::Stop() {
  gst_element_set_state(element_.get(), GST_STATE_NULL);
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
  gst_element_foreach_pad(
      element_.get(),
      [](GstElement*, GstPad* pad, gpointer) -> gboolean {
        if (auto peer = GstRef<GstPad>::Adopt(gst_pad_get_peer(pad))) {
          if (GST_PAD_IS_SRC(pad)) {
            gst_pad_unlink(pad, peer.get());
          } else {
            gst_pad_unlink(peer.get(), pad);
          }
        }
        return TRUE;
      },
      nullptr);
}

}  // namespace platform

#include "RendererElement.moc"
