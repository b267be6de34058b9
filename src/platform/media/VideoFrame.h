#pragma once
// A video frame as the device (or the decoder behind it) delivered it: a reference to its
// buffer and its format. Holding one keeps the buffer alive without copying a pixel; the
// conversions below read the pixels where they lie, at the frame's own strides.
//
// Threads: a VideoFrame may be made, copied and dropped on any thread (the streaming thread makes
// one per frame). ConvertFrame runs on the thread that asks for the pixels, never the streaming
// thread: a save on the main thread.

#include <gst/gst.h>
#include <gst/video/video.h>

#include <cstddef>
#include <cstdint>

#include "platform/media/GstRef.h"

namespace platform {

class VideoFrame {
 public:
  VideoFrame() noexcept;
  // Retains `buffer`, which `info` describes. Each frame made this way gets a serial number of
  // its own, which copies share: two frames with one serial show the same picture.
  VideoFrame(GstBuffer* buffer, const GstVideoInfo& info) noexcept;
  // The sample's buffer with the format of its caps; empty when they describe no raw video.
  static VideoFrame FromSample(GstSample* sample) noexcept;

  explicit operator bool() const noexcept { return static_cast<bool>(buffer_); }
  GstBuffer* Buffer() const noexcept { return buffer_.get(); }
  const GstVideoInfo& Info() const noexcept { return info_; }
  uint64_t Serial() const noexcept { return serial_; }
  int Width() const noexcept { return GST_VIDEO_INFO_WIDTH(&info_); }
  int Height() const noexcept { return GST_VIDEO_INFO_HEIGHT(&info_); }
  void Reset() noexcept;
  // The same picture (and serial) in memory of its own: holding it keeps no buffer of the
  // source's pool, and so neither the pool nor the device behind it, alive. Empty when this
  // frame is, or when its memory cannot be read.
  VideoFrame OwnCopy() const noexcept;

 private:
  GstRef<GstBuffer> buffer_;
  GstVideoInfo info_;
  uint64_t serial_ = 0;
};

// The frames of one stream's samples. Their format is read from the caps once, and again only
// when the samples come with other caps; a stream's samples share one caps object.
class SampleFormat {
 public:
  // The sample's buffer with the format of its caps; empty when they describe no raw video.
  VideoFrame FrameOf(GstSample* sample) noexcept;

 private:
  GstRef<GstCaps> caps_;  // those `info_` was read from; null: none read
  GstVideoInfo info_{};
};

// The raw video a frame can be converted from: every format GStreamer's converter reads, in
// system memory. BGR comes first, so a source that can deliver it does, and no conversion is
// needed at all.
GstRef<GstCaps> ConvertibleVideoCaps();
// Whether `format` is among them.
bool IsConvertibleFormat(GstVideoFormat format) noexcept;

// The frame at full size as DIB pixels: `bitCount` 24 (BGR) or 32 (BGRx) bits a pixel, the top
// row at `top` and each next row `stride` bytes further; row bytes past the pixels are zeroed.
// The pixels are byte for byte what `videoconvert` (default settings, two threads) in front of
// the grabber made of every frame before; a BGR or BGRx frame is copied. False when the frame
// cannot be mapped or converted, or the stride is too short for a row.
bool ConvertFrame(const VideoFrame& frame, int bitCount, uint8_t* top,
                  std::ptrdiff_t stride) noexcept;

}  // namespace platform
