#include "widgets/TImage.h"

#include <QPainter>

#include "platform/media/VideoFrame.h"
#include "platform/picture/TBitmap.h"

TImage::TImage(TBitmap& picture, QWidget* parent)
    : QWidget(parent), picture_(picture), repaint_([this] { update(); }) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TImage::RequestRepaint() noexcept {
  repaint_.Request();
}

void TImage::SetDrawnPicture(std::shared_ptr<const Dib> picture,
                             std::function<void(QPainter&)> paint) {
  drawn_ = std::move(picture);
  paintDrawn_ = std::move(paint);
  update();
}

namespace {
QImage::Format FormatOf(const Dib& dib) {
  switch (dib.BitCount()) {
    case 24:
      return QImage::Format_BGR888;
    case 32:
      // BGRA bytes in memory: Qt's RGB32 on a little-endian machine.
      return QImage::Format_RGB32;
    default:
      return QImage::Format_Invalid;
  }
}
}  // namespace

QImage TImage::ImageOver(const Dib& dib) {
  const QImage::Format format = FormatOf(dib);
  if (format == QImage::Format_Invalid)
    return {};
  return QImage(dib.Bits(), dib.Width(), dib.Height(), static_cast<qsizetype>(dib.Stride()),
                format);
}

QImage TImage::ImageOver(Dib& dib) {
  const QImage::Format format = FormatOf(dib);
  if (format == QImage::Format_Invalid)
    return {};
  return QImage(dib.Bits(), dib.Width(), dib.Height(), static_cast<qsizetype>(dib.Stride()),
                format);
}

QSize TImage::DevicePixels() const {
  // Device pixels, so a dense screen gets the frame's detail as it did from the full picture.
  const qreal ratio = devicePixelRatioF();
  return QSize(qRound(width() * ratio), qRound(height() * ratio));
}

QImage TImage::PictureOf(const platform::VideoFrame& frame) {
  // Both references keep their buffer alive, so one buffer address is one frame's pixels.
  TBitmap::Ref picture = picture_.Snapshot();
  const platform::VideoFrame* shown = picture ? picture->Frame() : nullptr;
  if (!shown || !frame || shown->Buffer() != frame.Buffer())
    return {};
  return scaler_.Scale(*shown, DevicePixels());
}

void TImage::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  // The reference keeps this picture alive (and unrecycled) while it is drawn, without holding
  // the display lock over the drawing.
  TBitmap::Ref picture = picture_.Snapshot();
  if (drawn_ && picture.get() == drawn_.get()) {
    painter.fillRect(rect(), Qt::black);
    painter.scale(width() / static_cast<qreal>(drawn_->Width()),
                  height() / static_cast<qreal>(drawn_->Height()));
    paintDrawn_(painter);
    return;
  }
  drawn_.reset();
  paintDrawn_ = nullptr;
  if (const platform::VideoFrame* frame = picture ? picture->Frame() : nullptr) {
    const QImage& small = scaler_.Scale(*frame, DevicePixels());
    if (small.isNull()) {
      painter.fillRect(rect(), Qt::black);
      return;
    }
    // One image pixel to one device pixel.
    painter.drawImage(QRectF(rect()), small, QRectF(small.rect()));
    return;
  }
  const QImage image = picture ? ImageOver(*picture) : QImage();
  if (image.isNull()) {
    painter.fillRect(rect(), Qt::black);
    return;
  }
  const QRect target = rect();
  if (!picture->TopDown()) {
    // Bottom-up rows: draw mirrored instead of copying the rows into order.
    painter.translate(0, target.height());
    painter.scale(1, -1);
  }
  painter.drawImage(target, image);
}
