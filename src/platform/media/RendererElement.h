#pragma once
// The video renderer: an appsink whose frames are drawn by a "VideoRenderer" surface widget
// (the renderer's window), and the video-window operations that place that window.
//
// Threads: the sink's callbacks run on the streaming thread and only hand the newest sample
// over (one atomic slot) and post one wake-up to the main thread; everything else, the surface
// included, lives on the main thread. The surface is created with the element and destroyed
// with it, after the element has stopped streaming.

#include <gst/gst.h>

#include <QPointer>
#include <QString>

#include <memory>

#include "platform/media/GstRef.h"
#include "platform/media/VideoRendererSurface.h"

class QWidget;

namespace platform {

class RendererHandoff;

// The renderer's video-window interface. Acts on the surface while it exists; once it is gone
// (its owner window was destroyed first) every call does nothing. Main thread only.
class RendererVideoWindow {
 public:
  explicit RendererVideoWindow(VideoRendererSurface* surface) : surface_(surface) {}

  // Makes the renderer's window a child of `owner` (null: a window of its own).
  void PutOwner(QWidget* owner);
  // The window's bounds in its owner's coordinates.
  void SetWindowPosition(int left, int top, int width, int height);
  void PutCaption(const QString& caption);
  // Mouse and key events on the renderer's window are passed on to `drain` (null: none).
  void PutMessageDrain(QWidget* drain);
  // Until it is called, the window shows itself with its first frame.
  void PutVisible(bool visible);
  // Where the window may find a larger picture of the frame it draws.
  void PutPictureSource(VideoRendererSurface::PictureSource source);

  // The renderer's window, or null once it is gone.
  QWidget* Window() const noexcept { return surface_; }

 private:
  QPointer<VideoRendererSurface> surface_;
};

class RendererElement {
 public:
  // Main thread: the surface is a widget.
  RendererElement();
  // Main thread. Stops the element first, so no frame reaches the surface being destroyed.
  ~RendererElement();
  RendererElement(const RendererElement&) = delete;
  RendererElement& operator=(const RendererElement&) = delete;

  // The sink element. Borrowed; this object keeps its reference.
  GstElement* Element() const noexcept { return element_.get(); }
  RendererVideoWindow& VideoWindow() noexcept { return videoWindow_; }

  // True when at least one of the element's pads is linked to a peer.
  bool HasConnectedPad() const;
  // Takes the element to NULL: streaming into it ends before this returns.
  void Stop();
  // The graph is about to stop: the window keeps its frame as a copy of its own and shows no
  // frame until the element runs again, so that none of the source's buffers is held here when
  // the source stops. (When the element stops it lets go of its frames in any case.)
  void LetGoOfFrames();
  // Unlinks every pad of the element from its peer.
  void DisconnectPads();

 private:
  // Owns the surface unless its Qt parent (the owner window) deleted it first.
  class SurfaceHandle {
   public:
    explicit SurfaceHandle(std::unique_ptr<VideoRendererSurface> surface)
        : surface_(surface.release()) {}
    ~SurfaceHandle() { delete surface_.data(); }
    SurfaceHandle(const SurfaceHandle&) = delete;
    SurfaceHandle& operator=(const SurfaceHandle&) = delete;
    VideoRendererSurface* get() const noexcept { return surface_.data(); }

   private:
    QPointer<VideoRendererSurface> surface_;
  };

  GstRef<GstElement> element_;
  SurfaceHandle surface_;
  std::unique_ptr<RendererHandoff> handoff_;
  RendererVideoWindow videoWindow_;
};

}  // namespace platform
