#pragma once
// The renderer's window: a plain widget that draws the newest video frame scaled to its own
// size. The frame comes as the device delivered it. Where another view already holds a larger
// picture of the same frame (the display area's), that picture is drawn scaled down as it is
// painted; otherwise a small picture of the widget's size is scaled and converted from the
// frame in one step (FrameScaler), once per frame.
// It is found by its object name "VideoRenderer" and its window title. Plain QWidget painting
// works on X11, Wayland and the offscreen platform alike. Main thread only.

#include <gst/gst.h>

#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>

#include "platform/media/FrameScaler.h"
#include "platform/media/GstRef.h"
#include "platform/media/VideoFrame.h"

namespace platform {

class VideoRendererSurface : public QWidget {
  Q_OBJECT

 public:
  // The object name that marks the renderer's window among its owner's children.
  static constexpr const char* kObjectName = "VideoRenderer";

  // The raw video formats the surface draws: every one it can convert, BGR first.
  static GstRef<GstCaps> DrawableCaps();

  VideoRendererSurface();
  ~VideoRendererSurface() override;

  // Holds the sample's frame as the one to draw (the former one is let go) and repaints. A sample
  // whose format cannot be drawn leaves the former frame standing.
  void ShowSample(const GstRef<GstSample>& sample);
  bool HasFrame() const noexcept { return static_cast<bool>(frame_); }
  // The frame shown (empty before the first).
  const VideoFrame& Frame() const noexcept { return frame_; }
  // The stream stops: the frame shown becomes a copy of the surface's own (drawn the same), so
  // no buffer of the source's stays held for repaints.
  void OwnFrame();

  // Makes the surface a child of `owner` (null: a window of its own), keeping its visibility.
  void Reparent(QWidget* owner);
  // An explicit choice; until one is made the surface shows itself with its first frame.
  void SetRequestedVisible(bool visible);
  // A picture another view made of `frame`, if it holds one of that very frame (empty if
  // not). Called while painting; the image is not kept past the paint.
  using PictureSource = std::function<QImage(const VideoFrame& frame)>;
  void SetPictureSource(PictureSource source) { pictureSource_ = std::move(source); }

  // Mouse and key events the surface receives go on to `drain` (null: kept here).
  void SetMessageDrain(QWidget* drain);
  QWidget* MessageDrain() const noexcept { return drain_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool event(QEvent* event) override;

 private:
  enum class Visibility { Automatic, Shown, Hidden };

  void ApplyVisibility();
  void ForwardToDrain(QEvent* event);

  VideoFrame frame_;
  bool frameOwn_ = false;  // frame_ is a copy of our own
  SampleFormat format_;
  FrameScaler scaler_;
  PictureSource pictureSource_;
  Visibility visibility_ = Visibility::Automatic;
  QPointer<QWidget> drain_;
};

}  // namespace platform
