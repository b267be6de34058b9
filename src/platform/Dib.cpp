#include "platform/Dib.h"

#include <cstdlib>

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

int Dib::Height() const noexcept {
  return std::abs(header_.biHeight);
}

const uint8_t* Dib::ScanLine(int y) const noexcept {
  const int row = TopDown() ? y : Height() - 1 - y;
  return bits_.get() + static_cast<size_t>(row) * stride_;
}

bool Dib::SameGeometry(const BITMAPINFOHEADER& other) const noexcept {
  return header_.biWidth == other.biWidth && header_.biHeight == other.biHeight &&
         header_.biBitCount == other.biBitCount && header_.biCompression == other.biCompression;
}
