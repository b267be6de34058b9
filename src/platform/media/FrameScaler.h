#pragma once
// Small pictures for the screen. A frame as delivered is scaled to the size it is shown at and
// converted to 32-bit pixels in one step, instead of converting the whole frame first and
// scaling the result: frames of one byte a component (cameras' raw formats, the MJPEG
// decoder's, 8-bit RGB and grey) are sampled at the picture's pixels first, other formats go
// through GStreamer's scaling converter. The scaling picks the nearest pixel, as
// QPainter does without smoothing; the colours are those of the full-size conversion. Where a
// pixel centre of the small picture falls exactly on the edge between two frame pixels the
// converter takes the right (lower) one, where QPainter took the left (upper) one.
//
// Main thread (it serves paint events); each widget keeps its own scaler.

#include <QImage>
#include <QSize>

#include <cstdint>
#include <memory>

namespace platform {

class VideoFrame;

class FrameScaler {
 public:
  FrameScaler();
  ~FrameScaler();
  FrameScaler(const FrameScaler&) = delete;
  FrameScaler& operator=(const FrameScaler&) = delete;

  // `frame` at `size` pixels as a Format_RGB32 image, converted again only when the frame (its
  // serial number) or the size changed since the last call; a null image when it cannot be
  // converted. The image's memory is reused from call to call: it is valid until the next one.
  const QImage& Scale(const VideoFrame& frame, QSize size);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform
