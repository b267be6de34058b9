#include "platform/VideoRendererSurface.h"

#include <gst/video/video.h>

#include <QCoreApplication>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <array>
#include <string>

namespace platform {

namespace {

struct DrawableFormat {
  GstVideoFormat video;
  QImage::Format image;
};

// BGR leads: the grabber in front of the renderer delivers it, so no converter is needed. The
// 32-bit formats name their bytes in memory, QImage's 32-bit formats a native word.
constexpr std::array kDrawableFormats {
  DrawableFormat{GST_VIDEO_FORMAT_BGR, QImage::Format_BGR888},
#if G_BYTE_ORDER == G_LITTLE_ENDIAN
      DrawableFormat{GST_VIDEO_FORMAT_BGRx, QImage::Format_RGB32},
#else
      DrawableFormat{GST_VIDEO_FORMAT_xRGB, QImage::Format_RGB32},
#endif
      DrawableFormat{GST_VIDEO_FORMAT_RGBx, QImage::Format_RGBX8888},
      DrawableFormat{GST_VIDEO_FORMAT_RGB, QImage::Format_RGB888},
      DrawableFormat{GST_VIDEO_FORMAT_GRAY8, QImage::Format_Grayscale8},
};

QImage::Format ImageFormatOf(GstVideoFormat format) {
  for (const DrawableFormat& drawable : kDrawableFormats) {
    if (drawable.video == format)
      return drawable.image;
  }
  return QImage::Format_Invalid;
}

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

// One sample, mapped for reading for as long as it is held, and an image over its pixels.
class VideoRendererSurface::Frame {
 public:
  // Null when the sample carries no drawable video.
  static std::unique_ptr<Frame> Map(GstRef<GstSample> sample) {
    GstCaps* caps = gst_sample_get_caps(sample.get());
    GstBuffer* buffer = gst_sample_get_buffer(sample.get());
    GstVideoInfo info;
    if (!caps || !buffer || !gst_video_info_from_caps(&info, caps))
      return nullptr;
    const QImage::Format format = ImageFormatOf(GST_VIDEO_INFO_FORMAT(&info));
    if (format == QImage::Format_Invalid)
      return nullptr;

    auto frame = std::make_unique<Frame>(std::move(sample));
    if (!gst_video_frame_map(&frame->video_, &info, buffer, GST_MAP_READ))
      return nullptr;
    frame->mapped_ = true;
    // The const-data constructor wraps the mapped pixels; nothing is copied.
    frame->image_ =
        QImage(static_cast<const uchar*>(GST_VIDEO_FRAME_PLANE_DATA(&frame->video_, 0)),
               GST_VIDEO_FRAME_WIDTH(&frame->video_), GST_VIDEO_FRAME_HEIGHT(&frame->video_),
               GST_VIDEO_FRAME_PLANE_STRIDE(&frame->video_, 0), format);
    return frame;
  }

  explicit Frame(GstRef<GstSample> sample) : sample_(std::move(sample)) {}
  ~Frame() {
    image_ = QImage();  // lets go of the pixels before they are unmapped
    if (mapped_)
      gst_video_frame_unmap(&video_);
  }
  Frame(const Frame&) = delete;
  Frame& operator=(const Frame&) = delete;

  const QImage& Image() const noexcept { return image_; }

 private:
  GstRef<GstSample> sample_;
  GstVideoFrame video_{};
  bool mapped_ = false;
  QImage image_;
};

GstRef<GstCaps> VideoRendererSurface::DrawableCaps() {
  std::string formats;
  for (const DrawableFormat& drawable : kDrawableFormats) {
    if (!formats.empty())
      formats += ", ";
    formats += gst_video_format_to_string(drawable.video);
  }
  const std::string description = "video/x-raw, format=(string){ " + formats + " }";
  return GstRef<GstCaps>::Adopt(gst_caps_from_string(description.c_str()));
}

VideoRendererSurface::VideoRendererSurface() {
  setObjectName(QString::fromLatin1(kObjectName));
  // Every pixel is painted each time: by the frame, or black before the first one.
  setAttribute(Qt::WA_OpaquePaintEvent);
  // A click gives the surface the keyboard, so key presses reach the drain as well.
  setFocusPolicy(Qt::ClickFocus);
}

VideoRendererSurface::~VideoRendererSurface() = default;

void VideoRendererSurface::ShowSample(GstRef<GstSample> sample) {
  std::unique_ptr<Frame> frame = Frame::Map(std::move(sample));
  if (!frame)
    return;
  const bool first = !frame_;
  frame_ = std::move(frame);
  if (first)
    ApplyVisibility();
  update();
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
  const bool shown = visibility_ == Visibility::Shown ||
                     (visibility_ == Visibility::Automatic && frame_ != nullptr);
  setVisible(shown);
}

void VideoRendererSurface::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (frame_) {
    // No smoothing: the nearest pixel is the cheapest way to scale a live picture.
    painter.drawImage(rect(), frame_->Image());
  } else {
    painter.fillRect(rect(), Qt::black);
  }
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
