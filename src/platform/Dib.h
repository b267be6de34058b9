#pragma once
// A device-independent bitmap: the 40-byte BITMAPINFOHEADER, the colour masks or colour table
// that follow it where the format has them, and the pixel rows, each padded to 4 bytes.
// Rows run bottom-up when biHeight is positive and top-down when it is negative.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#pragma pack(push, 1)
struct BITMAPINFOHEADER {
  uint32_t biSize = 40;
  int32_t biWidth = 0;
  int32_t biHeight = 0;
  uint16_t biPlanes = 1;
  uint16_t biBitCount = 0;
  uint32_t biCompression = 0;
  uint32_t biSizeImage = 0;
  int32_t biXPelsPerMeter = 0;
  int32_t biYPelsPerMeter = 0;
  uint32_t biClrUsed = 0;
  uint32_t biClrImportant = 0;
};
#pragma pack(pop)
static_assert(sizeof(BITMAPINFOHEADER) == 40);

constexpr uint32_t BI_RGB = 0;
constexpr uint32_t BI_BITFIELDS = 3;

class Dib {
 public:
  // Like CreateDIBSection: null when the header describes no bitmap we can hold (unknown
  // depth or compression, empty or absurd size). `colorInfo` is what follows the header in a
  // BITMAPINFO: three 32-bit masks for BI_BITFIELDS, or the colour table (4 bytes an entry).
  static std::shared_ptr<Dib> Create(const BITMAPINFOHEADER& header,
                                     std::vector<uint8_t> colorInfo = {});

  const BITMAPINFOHEADER& Header() const noexcept { return header_; }
  const std::vector<uint8_t>& ColorInfo() const noexcept { return colorInfo_; }
  int Width() const noexcept { return header_.biWidth; }
  int Height() const noexcept;  // magnitude of biHeight
  bool TopDown() const noexcept { return header_.biHeight < 0; }
  int BitCount() const noexcept { return header_.biBitCount; }
  size_t Stride() const noexcept { return stride_; }
  size_t ImageSize() const noexcept { return stride_ * static_cast<size_t>(Height()); }
  uint8_t* Bits() noexcept { return bits_.get(); }
  const uint8_t* Bits() const noexcept { return bits_.get(); }
  // Row y counted from the top of the picture, whatever the storage order.
  const uint8_t* ScanLine(int y) const noexcept;
  bool SameGeometry(const BITMAPINFOHEADER& other) const noexcept;

  // Bytes of one row of `width` pixels at `bitCount` bits, padded to 4 bytes (15 counts as 16).
  static size_t RowBytes(int width, int bitCount) noexcept;
  // Number of colour-table entries the header implies (0 above 8 bits per pixel).
  static size_t ColorTableEntries(const BITMAPINFOHEADER& header) noexcept;

 private:
  struct Key {};  // lets only Create construct, through make_shared

 public:
  explicit Dib(Key) {}

 private:
  BITMAPINFOHEADER header_{};
  std::vector<uint8_t> colorInfo_;
  size_t stride_ = 0;
  std::unique_ptr<uint8_t[]> bits_;
};
