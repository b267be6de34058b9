#include "platform/picture/Dib.h"

#include <cstdlib>
#include <new>

#include "platform/media/VideoFrame.h"

// The frame a Dib made for frames refers to, and whether its pixels have been computed.
struct Dib::FrameSlot {
  platform::VideoFrame frame;
  std::mutex lock;  // one computation at a time; guards frame's pixels being computed
  std::atomic<bool> computed{false};
  bool own = false;  // frame is a copy of our own, not the source's buffer; guarded by lock
};

namespace {
// Larger than any frame a capture device delivers (8K at 32 bits is 133 MB); a header asking
// for more is damaged, not a picture.
constexpr size_t kMaxImageBytes = size_t{1} << 30;

bool SupportedDepth(const BITMAPINFOHEADER& h) {
  switch (h.biBitCount) {
    case 1:
    case 4:
    case 8:
    case 24:
      return h.biCompression == BI_RGB;
    case 16:
    case 32:
      return h.biCompression == BI_RGB || h.biCompression == BI_BITFIELDS;
    default:
      return false;
  }
}
}  // namespace

size_t Dib::RowBytes(int width, int bitCount) noexcept {
  const size_t bits =
      static_cast<size_t>(bitCount == 15 ? 16 : bitCount) * static_cast<size_t>(width);
  return (bits + 31) / 32 * 4;
}

size_t Dib::ColorTableEntries(const BITMAPINFOHEADER& h) noexcept {
  if (h.biBitCount > 8)
    return 0;
  const size_t full = size_t{1} << h.biBitCount;
  return h.biClrUsed != 0 && h.biClrUsed < full ? h.biClrUsed : full;
}

std::shared_ptr<Dib> Dib::Create(const BITMAPINFOHEADER& header, std::vector<uint8_t> colorInfo) {
  if (header.biWidth <= 0 || header.biHeight == 0 || header.biHeight == INT32_MIN ||
      header.biPlanes != 1 || !SupportedDepth(header)) {
    return nullptr;
  }
  const size_t stride = RowBytes(header.biWidth, header.biBitCount);
  const size_t height = static_cast<size_t>(std::abs(header.biHeight));
  if (stride == 0 || stride > kMaxImageBytes / height)
    return nullptr;

  size_t expectedColorInfo = 0;
  if (header.biCompression == BI_BITFIELDS) {
    expectedColorInfo = 12;
  } else {
    expectedColorInfo = ColorTableEntries(header) * 4;
  }
  colorInfo.resize(expectedColorInfo, 0);

  auto dib = std::make_shared<Dib>(Key{});
  dib->header_ = header;
  dib->header_.biSize = sizeof(BITMAPINFOHEADER);
  dib->colorInfo_ = std::move(colorInfo);
  dib->stride_ = stride;
  // Not zeroed: every caller overwrites the pixels it hands out.
  dib->bits_ = std::make_unique_for_overwrite<uint8_t[]>(stride * height);
  return dib;
}

std::shared_ptr<Dib> Dib::CreateForFrame(const BITMAPINFOHEADER& header) {
  // Top-down, as frames run: the conversion writes rows in the frame's order.
  if (header.biCompression != BI_RGB || (header.biBitCount != 24 && header.biBitCount != 32) ||
      header.biWidth <= 0 || header.biHeight >= 0 || header.biHeight == INT32_MIN ||
      header.biPlanes != 1) {
    return nullptr;
  }
  const size_t stride = RowBytes(header.biWidth, header.biBitCount);
  const size_t height = static_cast<size_t>(std::abs(header.biHeight));
  if (stride > kMaxImageBytes / height)
    return nullptr;
  auto dib = std::make_shared<Dib>(Key{});
  dib->header_ = header;
  dib->header_.biSize = sizeof(BITMAPINFOHEADER);
  dib->stride_ = stride;
  dib->frame_ = std::make_unique<FrameSlot>();
  return dib;
}

Dib::Dib(Key) noexcept {}

Dib::~Dib() = default;

void Dib::AttachFrame(const platform::VideoFrame& frame) {
  if (!frame_)
    return;
  frame_->frame = frame;
  frame_->own = false;
  frame_->computed.store(false, std::memory_order_relaxed);
}

void Dib::DetachFrame() noexcept {
  if (!frame_)
    return;
  frame_->frame.Reset();
  frame_->own = false;
  frame_->computed.store(false, std::memory_order_relaxed);
}

bool Dib::OwnFrame() noexcept {
  if (!frame_)
    return true;
  try {
    // Not while a save computes the pixels from the frame.
    std::lock_guard guard(frame_->lock);
    if (frame_->own || !frame_->frame)
      return true;
    platform::VideoFrame copy = frame_->frame.OwnCopy();
    if (!copy)
      return false;
    frame_->frame = std::move(copy);
    frame_->own = true;
    return true;
  } catch (...) {
    return false;  // the lock could not be taken
  }
}

const platform::VideoFrame* Dib::Frame() const noexcept {
  return frame_ && frame_->frame ? &frame_->frame : nullptr;
}

const uint8_t* Dib::Bits() const noexcept {
  // A recycled frame Dib's memory still holds an earlier frame until this one is computed.
  if (frame_ && !frame_->computed.load(std::memory_order_acquire))
    return nullptr;
  return bits_.get();
}

bool Dib::ComputeFramePixels() const noexcept {
  if (!frame_)
    return bits_ != nullptr;
  FrameSlot& slot = *frame_;
  if (slot.computed.load(std::memory_order_acquire))
    return true;
  try {
    std::lock_guard guard(slot.lock);
    if (slot.computed.load(std::memory_order_relaxed))
      return true;
    if (!slot.frame || slot.frame.Width() != Width() || slot.frame.Height() != Height())
      return false;
    if (!bits_)
      bits_ = std::make_unique_for_overwrite<uint8_t[]>(ImageSize());
    if (!platform::ConvertFrame(slot.frame, BitCount(), bits_.get(),
                                static_cast<std::ptrdiff_t>(stride_)))
      return false;
    slot.computed.store(true, std::memory_order_release);
    return true;
  } catch (...) {
    return false;  // no memory for the pixels, or the lock could not be taken
  }
}

int Dib::Height() const noexcept {
  return std::abs(header_.biHeight);
}

const uint8_t* Dib::ScanLine(int y) const noexcept {
  const uint8_t* bits = Bits();
  if (!bits)
    return nullptr;
  const int row = TopDown() ? y : Height() - 1 - y;
  return bits + static_cast<size_t>(row) * stride_;
}

bool Dib::SameGeometry(const BITMAPINFOHEADER& other) const noexcept {
  return header_.biWidth == other.biWidth && header_.biHeight == other.biHeight &&
         header_.biBitCount == other.biBitCount && header_.biCompression == other.biCompression;
}
