#pragma once
// The display area: shows the display picture stretched over its whole size, whatever the
// picture's size (the aspect ratio is not kept), picking the nearest pixel. A picture that is a
// frame as delivered is drawn from a small copy scaled and converted to the area's size in one
// step, made once per frame; its full-size pixels are never computed for the screen. Repaints
// run on the main thread only; a change of picture on another thread merely posts one.

#include <QImage>
#include <QWidget>

#include <functional>
#include <memory>

#include "platform/media/FrameScaler.h"
#include "platform/runtime/Threads.h"

class TBitmap;
class Dib;
class QPainter;

class TImage : public QWidget {
  Q_OBJECT
 public:
  TImage(TBitmap& picture, QWidget* parent = nullptr);

  // Any thread, from the picture's change callback: asks for one repaint on the main thread.
  // Calls that come while one is pending are folded into it.
  void RequestRepaint() noexcept;

  // A picture that was drawn on black by `paint` (in the picture's coordinates). While it is
  // the display picture the area repaints it from `paint` at the screen's own resolution, so
  // text stays sharp on dense screens and the black is opaque whatever the picture's unused
  // fourth bytes hold. The picture itself is what captures write. Main thread.
  void SetDrawnPicture(std::shared_ptr<const Dib> picture, std::function<void(QPainter&)> paint);

  // The area's own picture of `frame`, at its device pixels, while the display picture is that
  // very frame (the same buffer); empty otherwise. The image is reused for the next frame: it
  // is to be drawn, not kept. Main thread.
  QImage PictureOf(const platform::VideoFrame& frame);

  // A QImage over the Dib's own pixels (no copy), rows in storage order; null when the
  // format is not one the screen draws directly.
  static QImage ImageOver(const Dib& dib);
  // The same, writable: painting on it paints on the Dib.
  static QImage ImageOver(Dib& dib);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QSize DevicePixels() const;

  TBitmap& picture_;
  // Held until another picture is shown, which also keeps it from being recycled meanwhile.
  std::shared_ptr<const Dib> drawn_;
  std::function<void(QPainter&)> paintDrawn_;
  platform::FrameScaler scaler_;
  platform::CoalescingWakeup repaint_;
};
