#pragma once
// The frame grabber as a linked component: puts a grabber element into the graph, fixes the
// media type of the pictures its frames become, announces every frame through OnBuffer and
// turns a frame into the display picture (CopyToBitmap).
//
// The media type is 24-bit RGB, and ConnectedMediaType reports the 24-bit RGB header of the
// frame size, but frames pass as the device delivers them (after a decoder where one is
// needed): no converter runs on every frame. CopyToBitmap gives the display picture a reference
// to the frame in the callback; its RGB pixels are computed when they are first read (a save),
// on the reading thread (see Dib).
//
// Threads and locks. Everything runs on the main thread except BufferCB_Streaming, the OnBuffer
// handler it calls and, from there, CopyToBitmap. The buffer lock lets one OnBuffer call run at
// a time; the streaming thread takes it around every call, and the main thread only in
// SetOnBuffer. The display lock (TBitmap) is taken inside it, never the other way round, so
// the main thread must not call SetOnBuffer while it holds the display lock. The main-thread
// entries assert where they run.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "capture/LinkedFilter.h"
#include "capture/TFilterGraph.h"
#include "capture/TLinkedComponent.h"
#include "capture/TMediaType.h"
#include "platform/media/GrabberElement.h"
#include "platform/media/GstRef.h"
#include "platform/picture/TBitmap.h"

class TSampleGrabber : public TLinkedComponent {
 public:
  // Runs on the streaming thread under the buffer lock. `buffer` holds the frame as delivered
  // (for a BGR frame at DIB stride: the picture's rows, as the connected media type describes
  // them) and `bufferLen` its bytes; valid only during the call. Passing them on to
  // CopyToBitmap makes that frame the picture.
  using TOnBuffer = std::function<void(TSampleGrabber& sender, double sampleTime,
                                       const void* buffer, int32_t bufferLen)>;

  // Media type: video, 24-bit RGB, VIDEOINFOHEADER. No graph, no handler.
  explicit TSampleGrabber(std::string name);
  // Unlinks from the graph (an active graph removes the filter first).
  ~TSampleGrabber() override;
  TSampleGrabber(const TSampleGrabber&) = delete;
  TSampleGrabber& operator=(const TSampleGrabber&) = delete;

  const std::string& Name() const noexcept { return name_; }

  // Main thread. Takes the buffer lock, so a frame in its handler finishes first; never call
  // it from the handler or while holding the display lock.
  void SetOnBuffer(TOnBuffer handler);

  // The type the grabber accepts; ApplyMediaType makes a change count.
  TMediaType& MediaType() noexcept { return mediaType_; }
  const TMediaType& MediaType() const noexcept { return mediaType_; }
  // While active: stops the grabber, unlinks its input and sets the media type on it.
  void ApplyMediaType();

  // The media type of the grabber's input connection: video, RGB24 or RGB32, with a
  // VIDEOINFOHEADER (or a VIDEOINFOHEADER2 when that format type was asked for) whose
  // bitmap header is top-down (negative biHeight). False while inactive or unconnected.
  // Any thread: the frame handler asks on the streaming thread.
  bool ConnectedMediaType(MediaTypeRecord& mediaType) const;

  // Makes the frame in `buffer` (or, with no buffer, the last frame the grabber keeps) the
  // bitmap's picture, in a Dib of the connected type. The frame being announced to OnBuffer
  // (the `buffer` handed to the handler) and the kept frame are taken by reference, their
  // pixels computed when first read; any other buffer is copied as bytes laid out as the
  // connected type describes, and is refused while the frames arrive in another format (a copy
  // of YUY2 bytes is no RGB picture). True when the bitmap now holds the frame; on any failure the
  // bitmap is left as it was. Takes the display lock (it is re-entrant: the frame handler
  // already holds it). Any thread: the frame handler calls it on the streaming thread.
  bool CopyToBitmap(TBitmap* bitmap, const void* buffer, int32_t bufferLen);

  // The run of the stream (platform::GrabberElement::StreamRun): inside OnBuffer, the one the
  // frame being announced belongs to; elsewhere, the one running or last run. 0 for none.
  std::uint64_t StreamRun() const noexcept;

  // ILinkedFilter
  GstElement* GetBaseFilter() override { return grabber_ ? grabber_->Element() : nullptr; }
  std::string GetFilterName() override { return name_; }
  void NotifyFilterOperation(FilterOperation operation, int param) override;

 private:
  // Clears the callback and the kept frame, then lets the filter, grabber and pins go.
  void ReleaseFilter() noexcept;
  // CopyToBitmap of a frame as delivered: a reference in a Dib made for frames.
  bool AdoptFrame(TBitmap* bitmap, const BITMAPINFOHEADER& header,
                  const platform::VideoFrame& frame);
  // The grabber's callback, the door through which frames enter our code: runs on the
  // streaming thread, once per frame, and takes the buffer lock around OnBuffer. Swallows
  // (and logs) what the handler throws: nothing may unwind into GStreamer.
  static void BufferCB_Streaming(void* self, const platform::GrabberFrame& frame) noexcept;

  std::string name_;
  // Guarded by bufferLock_.
  TOnBuffer onBuffer_;
  // The filter, from AboutToAdd until Removed. Read by the streaming thread inside a frame; it
  // changes only while no frame can be in the callback (its callback swap waits for one).
  std::unique_ptr<platform::GrabberElement> grabber_;
  TMediaType mediaType_{MEDIATYPE_Video};
  // The buffer lock: one OnBuffer call at a time. Streaming thread around each call; main
  // thread in SetOnBuffer.
  std::mutex bufferLock_;
  // The grabber's pads, from Added until Removed.
  platform::GstRef<GstPad> inputPin_;
  platform::GstRef<GstPad> outputPin_;
  // The connection is described with a VIDEOINFOHEADER2; read by the streaming thread.
  std::atomic<bool> connectedAsVideoInfo2_{false};
};

// The bitmap header in a video media type's format block: at 48 in a VIDEOINFOHEADER block of
// exactly 88 bytes, at 72 in a VIDEOINFOHEADER2 block of exactly 112; null otherwise (other
// major or format types, blocks with colour tables or masks).
const BITMAPINFOHEADER* VideoBitmapHeader(const MediaTypeRecord& mediaType) noexcept;
