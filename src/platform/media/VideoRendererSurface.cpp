#include "platform/media/VideoRendererSurface.h"

#include <gst/video/video.h>

#include <QCoreApplication>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <string>

namespace platform {

namespace {

bool IsInputEvent(QEvent::Type type) {
  switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
      return true;
    default:
      return false;
  }
}

}  // namespace

GstRef<GstCaps> VideoRendererSurface::DrawableCaps() {
  return ConvertibleVideoCaps();
}

VideoRendererSurface::VideoRendererSurface() {
  setObjectName(QString::fromLatin1(kObjectName));
  // Every pixel is painted each time: by the frame, or black before the first one.
  setAttribute(Qt::WA_OpaquePaintEvent);
  // A click gives the surface the keyboard, so key presses reach the drain as well.
  setFocusPolicy(Qt::ClickFocus);
}

VideoRendererSurface::~VideoRendererSurface() = default;

void VideoRendererSurface::ShowSample(const GstRef<GstSample>& sample) {
  VideoFrame frame = format_.FrameOf(sample.get());
  if (!frame || !IsConvertibleFormat(GST_VIDEO_INFO_FORMAT(&frame.Info())))
    return;
  const bool first = !frame_;
  frame_ = std::move(frame);
  frameOwn_ = false;
  if (first)
    ApplyVisibility();
  update();
}

void VideoRendererSurface::OwnFrame() {
  if (frameOwn_)
    return;
  // A frame that cannot be copied stays: the picture is not lost.
  if (VideoFrame own = frame_.OwnCopy()) {
    frame_ = std::move(own);
    frameOwn_ = true;
  }
}

void VideoRendererSurface::Reparent(QWidget* owner) {
  if (owner != parentWidget())
    setParent(owner);  // setParent hides the widget
  ApplyVisibility();
}

void VideoRendererSurface::SetRequestedVisible(bool visible) {
  visibility_ = visible ? Visibility::Shown : Visibility::Hidden;
  ApplyVisibility();
}

void VideoRendererSurface::SetMessageDrain(QWidget* drain) {
  drain_ = drain;
  // Moves are passed on too, not only those with a button held.
  setMouseTracking(drain != nullptr);
}

void VideoRendererSurface::ApplyVisibility() {
  const bool shown =
      visibility_ == Visibility::Shown || (visibility_ == Visibility::Automatic && frame_);
  setVisible(shown);
}

void VideoRendererSurface::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  // The nearest pixel, as the widget drew the full frame without smoothing; device pixels, so
  // a dense screen gets the frame's detail.
  const qreal ratio = devicePixelRatioF();
  const QSize pixels(qRound(width() * ratio), qRound(height() * ratio));
  if (pictureSource_ && frame_) {
    const QImage larger = pictureSource_(frame_);
    if (larger.width() >= pixels.width() && larger.height() >= pixels.height()) {
      painter.drawImage(QRectF(rect()), larger, QRectF(larger.rect()));
      return;
    }
  }
  const QImage& small = scaler_.Scale(frame_, pixels);
  if (small.isNull()) {
    painter.fillRect(rect(), Qt::black);
    return;
  }
  painter.drawImage(QRectF(rect()), small, QRectF(small.rect()));
}

bool VideoRendererSurface::event(QEvent* event) {
  if (drain_ && IsInputEvent(event->type())) {
    ForwardToDrain(event);
    event->accept();
    return true;
  }
  return QWidget::event(event);
}

void VideoRendererSurface::ForwardToDrain(QEvent* event) {
  // Positions are given again in the drain's own coordinates.
  switch (event->type()) {
    case QEvent::Wheel: {
      const auto* wheel = static_cast<QWheelEvent*>(event);
      QWheelEvent copy(drain_->mapFromGlobal(wheel->globalPosition()), wheel->globalPosition(),
                       wheel->pixelDelta(), wheel->angleDelta(), wheel->buttons(),
                       wheel->modifiers(), wheel->phase(), wheel->inverted(), wheel->source(),
                       wheel->pointingDevice());
      QCoreApplication::sendEvent(drain_, &copy);
      break;
    }
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
      std::unique_ptr<QEvent> copy(event->clone());
      QCoreApplication::sendEvent(drain_, copy.get());
      break;
    }
    default: {
      const auto* mouse = static_cast<QMouseEvent*>(event);
      const QPointF global = mouse->globalPosition();
      QMouseEvent copy(mouse->type(), drain_->mapFromGlobal(global),
                       drain_->window()->mapFromGlobal(global), global, mouse->button(),
                       mouse->buttons(), mouse->modifiers(), mouse->pointingDevice());
      QCoreApplication::sendEvent(drain_, &copy);
      break;
    }
  }
}

}  // namespace platform
