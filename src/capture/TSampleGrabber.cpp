#include "capture/TSampleGrabber.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <numeric>
#include <utility>

#include "capture/CaptureLog.h"
#include "platform/media/Pipeline.h"
#include "platform/runtime/Threads.h"

using platform::AssertMainThread;

namespace {

// The grabber accepts exactly the type set: video, 24- or 32-bit RGB, described by a
// VIDEOINFOHEADER or VIDEOINFOHEADER2 (GUID_NULL leaves the description open). Anything else
// is a type no source offers, so the grabber's input cannot be linked.
platform::GrabberFormat AcceptedFormat(const TMediaType& type) {
  const GUID& formatType = type.FormatType();
  const bool described =
      formatType == FORMAT_VideoInfo || formatType == FORMAT_VideoInfo2 || formatType == GUID_NULL;
  if (type.Majortype() != MEDIATYPE_Video || !described)
    return platform::GrabberFormat::None;
  if (type.Subtype() == MEDIASUBTYPE_RGB24)
    return platform::GrabberFormat::BGR;
  if (type.Subtype() == MEDIASUBTYPE_RGB32)
    return platform::GrabberFormat::BGRx;
  return platform::GrabberFormat::None;
}

template <typename T>
std::span<const uint8_t> BytesOf(const T& value) {
  return {reinterpret_cast<const uint8_t*>(&value), sizeof(value)};
}

uint32_t ClampToU32(uint64_t value) {
  return static_cast<uint32_t>(std::min<uint64_t>(value, std::numeric_limits<uint32_t>::max()));
}

// The frame being announced on this thread, set by BufferCB_Streaming around the OnBuffer call:
// CopyToBitmap recognises it by its bytes and takes the frame by reference. Thread-local, so a
// call on another thread (or with other bytes) never mistakes a buffer for it.
struct FrameInFlight {
  const TSampleGrabber* grabber = nullptr;
  const platform::GrabberFrame* frame = nullptr;
};
thread_local FrameInFlight frameInFlight;

}  // namespace

const BITMAPINFOHEADER* VideoBitmapHeader(const MediaTypeRecord& mediaType) noexcept {
  const AM_MEDIA_TYPE& h = mediaType.header;
  if (h.majortype != MEDIATYPE_Video || h.cbFormat != mediaType.format.size())
    return nullptr;
  size_t offset = 0;
  if (h.formattype == FORMAT_VideoInfo && h.cbFormat == sizeof(VIDEOINFOHEADER)) {
    offset = offsetof(VIDEOINFOHEADER, bmiHeader);
  } else if (h.formattype == FORMAT_VideoInfo2 && h.cbFormat == sizeof(VIDEOINFOHEADER2)) {
    offset = offsetof(VIDEOINFOHEADER2, bmiHeader);
  } else {
    return nullptr;
  }
  return reinterpret_cast<const BITMAPINFOHEADER*>(mediaType.format.data() + offset);
}

TSampleGrabber::TSampleGrabber(std::string name) : name_(std::move(name)) {
  mediaType_.SetSubtype(MEDIASUBTYPE_RGB24);
  mediaType_.SetFormatType(FORMAT_VideoInfo);
}

TSampleGrabber::~TSampleGrabber() {
  AssertMainThread();
  try {
    SetFilterGraph(nullptr);
  } catch (...) {
    // Destruction goes on; the filter is released below in any case.
  }
  // Whatever the graph did, no frame may call into this object once it is gone.
  ReleaseFilter();
}

void TSampleGrabber::SetOnBuffer(TOnBuffer handler) {
  AssertMainThread();
  std::lock_guard guard(bufferLock_);
  onBuffer_ = std::move(handler);
}

void TSampleGrabber::NotifyFilterOperation(FilterOperation operation, int /*param*/) {
  AssertMainThread();
  switch (operation) {
    case FilterOperation::AboutToAdd:
      ReleaseFilter();
      grabber_ = std::make_unique<platform::GrabberElement>();
      break;
    case FilterOperation::Added:
      if (!grabber_)
        break;
      inputPin_ = platform::StaticPad(grabber_->Element(), "sink");
      outputPin_ = platform::StaticPad(grabber_->Element(), "src");
      ApplyMediaType();
      grabber_->SetBufferSamples(true);
      grabber_->SetCallback(&TSampleGrabber::BufferCB_Streaming, this);
      break;
    case FilterOperation::AboutToRemove:
      if (!grabber_)
        break;
      platform::StopElement(grabber_->Element());
      platform::UnlinkPad(inputPin_.get());
      platform::UnlinkPad(outputPin_.get());
      break;
    case FilterOperation::Removed:
      ReleaseFilter();
      break;
  }
}

void TSampleGrabber::ReleaseFilter() noexcept {
  outputPin_.reset();
  inputPin_.reset();
  // Returns only once a frame still in the callback has left it.
  grabber_.reset();
}

void TSampleGrabber::ApplyMediaType() {
  AssertMainThread();
  if (!grabber_ || !inputPin_)
    return;
  platform::StopElement(grabber_->Element());
  platform::UnlinkPad(inputPin_.get());
  connectedAsVideoInfo2_ = mediaType_.FormatType() == FORMAT_VideoInfo2;
  grabber_->SetFormat(AcceptedFormat(mediaType_));
}

bool TSampleGrabber::ConnectedMediaType(MediaTypeRecord& mediaType) const {
  FreeFormatBlock(mediaType);
  platform::GrabberConnection c;
  if (!grabber_ || !grabber_->Connected(c))
    return false;

  BITMAPINFOHEADER bmi;
  bmi.biWidth = c.width;
  bmi.biHeight = -c.height;  // our frames run top-down
  bmi.biPlanes = 1;
  bmi.biBitCount = c.format == platform::GrabberFormat::BGR ? 24 : 32;
  bmi.biCompression = BI_RGB;
  bmi.biSizeImage =
      ClampToU32(uint64_t{static_cast<uint32_t>(c.stride)} * static_cast<uint32_t>(c.height));
  const RECT whole{0, 0, c.width, c.height};
  const int64_t avgTimePerFrame =
      c.fpsN > 0 ? int64_t{10'000'000} * std::max(c.fpsD, 1) / c.fpsN : 0;
  const uint32_t bitRate =
      c.fpsN > 0 ? ClampToU32(uint64_t{bmi.biSizeImage} * 8 * static_cast<uint64_t>(c.fpsN) /
                              static_cast<uint64_t>(std::max(c.fpsD, 1)))
                 : 0;

  AM_MEDIA_TYPE& h = mediaType.header;
  h = AM_MEDIA_TYPE{};
  h.majortype = MEDIATYPE_Video;
  h.subtype = bmi.biBitCount == 24 ? MEDIASUBTYPE_RGB24 : MEDIASUBTYPE_RGB32;
  h.bFixedSizeSamples = kTrue32;
  h.lSampleSize = bmi.biSizeImage;
  if (connectedAsVideoInfo2_) {
    VIDEOINFOHEADER2 info;
    info.rcSource = info.rcTarget = whole;
    info.dwBitRate = bitRate;
    info.AvgTimePerFrame = avgTimePerFrame;
    const int64_t aspectX = int64_t{c.width} * std::max(c.parN, 1);
    const int64_t aspectY = int64_t{c.height} * std::max(c.parD, 1);
    const int64_t divisor = std::max<int64_t>(std::gcd(aspectX, aspectY), 1);
    info.dwPictAspectRatioX = ClampToU32(static_cast<uint64_t>(aspectX / divisor));
    info.dwPictAspectRatioY = ClampToU32(static_cast<uint64_t>(aspectY / divisor));
    info.bmiHeader = bmi;
    h.formattype = FORMAT_VideoInfo2;
    SetFormatBlock(mediaType, BytesOf(info));
  } else {
    VIDEOINFOHEADER info;
    info.rcSource = info.rcTarget = whole;
    info.dwBitRate = bitRate;
    info.AvgTimePerFrame = avgTimePerFrame;
    info.bmiHeader = bmi;
    h.formattype = FORMAT_VideoInfo;
    SetFormatBlock(mediaType, BytesOf(info));
  }
  return true;
}

bool TSampleGrabber::CopyToBitmap(TBitmap* bitmap, const void* buffer, int32_t bufferLen) {
  if (!bitmap)
    return false;
  // A negative length would turn into a huge copy; it counts as no frame, like 0.
  if (buffer && bufferLen <= 0)
    return false;
  MediaTypeRecord connected;
  if (!ConnectedMediaType(connected))
    return false;
  const BITMAPINFOHEADER* header = VideoBitmapHeader(connected);
  if (!header)
    return false;
  if (!buffer) {
    const platform::VideoFrame held = grabber_->HeldFrame();
    return held && AdoptFrame(bitmap, *header, held);
  }
  const FrameInFlight inFlight = frameInFlight;
  if (inFlight.grabber == this && inFlight.frame && inFlight.frame->frame &&
      buffer == inFlight.frame->data) {
    return AdoptFrame(bitmap, *header, *inFlight.frame->frame);
  }
  // Other bytes are taken for the picture's rows, which a copy of a frame is only when the
  // frames arrive in the picture format: a copy of a YUY2 frame is no BGR picture.
  platform::GrabberConnection connection;
  if (!grabber_->Connected(connection) || !connection.deliveredAsPicture)
    return false;

  std::lock_guard displayLock(*bitmap);
  // Recycled memory where possible: fresh pages cost far more than the copy itself. Never the
  // picture on display, which a save may be reading.
  std::shared_ptr<Dib> dib = bitmap->Reusable(*header);
  if (!dib || !dib->Bits())
    return false;

  // Top-down headers count by the magnitude of their height.
  const int64_t imageSize =
      header->biSizeImage != 0
          ? int64_t{header->biSizeImage}
          : static_cast<int64_t>(Dib::RowBytes(header->biWidth, header->biBitCount)) *
                std::abs(int64_t{header->biHeight}) * header->biPlanes;
  const size_t capacity =
      std::min(static_cast<size_t>(std::max<int64_t>(imageSize, 0)), dib->ImageSize());
  const size_t copied = std::min(static_cast<size_t>(bufferLen), capacity);
  std::memcpy(dib->Bits(), buffer, copied);
  // A recycled Dib holds an older frame: what a short frame does not cover is black, as in a
  // fresh bitmap.
  if (copied < dib->ImageSize())
    std::memset(dib->Bits() + copied, 0, dib->ImageSize() - copied);
  // Row padding is whatever the producer's memory held; a picture file must not carry it.
  const size_t usedRowBytes = (size_t{dib->Header().biBitCount} * size_t(dib->Width()) + 7) / 8;
  if (usedRowBytes < dib->Stride()) {
    for (int y = 0; y < dib->Height(); ++y)
      std::memset(dib->Bits() + size_t(y) * dib->Stride() + usedRowBytes, 0,
                  dib->Stride() - usedRowBytes);
  }
  bitmap->Adopt(std::move(dib));
  return true;
}

std::uint64_t TSampleGrabber::StreamRun() const noexcept {
  const FrameInFlight inFlight = frameInFlight;
  if (inFlight.grabber == this && inFlight.frame)
    return inFlight.frame->run;
  return grabber_ ? grabber_->StreamRun() : 0;
}

bool TSampleGrabber::AdoptFrame(TBitmap* bitmap, const BITMAPINFOHEADER& header,
                                const platform::VideoFrame& frame) {
  if (frame.Width() != header.biWidth || frame.Height() != std::abs(int64_t{header.biHeight}))
    return false;
  // The pixels come top-down, as the frame's rows run.
  BITMAPINFOHEADER picture = header;
  picture.biHeight = -frame.Height();
  std::lock_guard displayLock(*bitmap);
  // Recycled where possible, with the pixel memory of an earlier frame for when a save asks.
  std::shared_ptr<Dib> dib = bitmap->ReusableForFrame(picture);
  if (!dib)
    return false;
  dib->AttachFrame(frame);
  bitmap->Adopt(std::move(dib));
  return true;
}

void TSampleGrabber::BufferCB_Streaming(void* self, const platform::GrabberFrame& frame) noexcept {
  auto& grabber = *static_cast<TSampleGrabber*>(self);
  try {
    std::lock_guard guard(grabber.bufferLock_);
    if (!grabber.onBuffer_)
      return;
    frameInFlight = {&grabber, &frame};
    // Cleared however the handler ends.
    struct Clear {
      ~Clear() { frameInFlight = {}; }
    } clear;
    grabber.onBuffer_(grabber, frame.sampleTime, frame.data, frame.length);
  } catch (const std::exception& e) {
    // The handler's error ends its frame here; nothing may unwind into the streaming thread.
    platform::LogLimited(lcCapture(), grabber.name_,
                         QStringLiteral("OnBuffer failed: ") + QString::fromUtf8(e.what()));
  } catch (...) {
    platform::LogLimited(lcCapture(), grabber.name_, QStringLiteral("OnBuffer failed"));
  }
}
