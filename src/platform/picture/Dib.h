#pragma once
// A device-independent bitmap: the 40-byte BITMAPINFOHEADER, the colour masks or colour table
// that follow it where the format has them, and the pixel rows, each padded to 4 bytes.
// Rows run bottom-up when biHeight is positive and top-down when it is negative.
//
// A Dib made for a frame (CreateForFrame) refers to a video frame as it was delivered instead of
// holding pixels: whoever needs its full-size pixels (a save) asks for them with
// ComputeFramePixels, which converts the frame once, on the calling thread, into memory the Dib
// keeps when it is recycled for a later frame. Until then it has no pixels. The frame belongs to
// its source (a device's buffer pool) until OwnFrame makes it a copy of the Dib's own.
// Threads: attaching and detaching a frame happen only while nobody else holds the Dib;
// computing and reading the pixels may happen on any thread that holds it.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace platform {
class VideoFrame;
}

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
  // A Dib of that geometry (24 or 32 bits, BI_RGB, top-down) for frames: no pixel memory until
  // the pixels of an attached frame are first read. Null for any other header.
  static std::shared_ptr<Dib> CreateForFrame(const BITMAPINFOHEADER& header);
  ~Dib();

  // --- Dibs made for frames. Attach and Detach only while nobody else holds the Dib. ---
  bool ForFrames() const noexcept { return static_cast<bool>(frame_); }
  // Makes `frame` the picture (a reference, no copy); it has no pixels until they are computed.
  // The frame's size must be the Dib's.
  void AttachFrame(const platform::VideoFrame& frame);
  // Lets the frame go; the pixel memory stays for the next frame.
  void DetachFrame() noexcept;
  // Makes the frame a copy of the program's own (the same picture: it paints and saves the
  // same), so the source's buffer can go back to it. Only while no other thread reads Frame().
  // False when no copy could be made; the frame then stays as it was.
  bool OwnFrame() noexcept;
  // The frame the picture is, or null (not made for frames, or detached).
  const platform::VideoFrame* Frame() const noexcept;

  const BITMAPINFOHEADER& Header() const noexcept { return header_; }
  const std::vector<uint8_t>& ColorInfo() const noexcept { return colorInfo_; }
  int Width() const noexcept { return header_.biWidth; }
  int Height() const noexcept;  // magnitude of biHeight
  bool TopDown() const noexcept { return header_.biHeight < 0; }
  int BitCount() const noexcept { return header_.biBitCount; }
  size_t Stride() const noexcept { return stride_; }
  size_t ImageSize() const noexcept { return stride_ * static_cast<size_t>(Height()); }
  // The full-size pixels of the frame the Dib refers to, computed from it once (the full
  // conversion: about 6 MB and several milliseconds at 1080p). True when the Dib has its
  // pixels, also one that always had them; false when they cannot be had: no memory, no frame,
  // or a frame that cannot be converted.
  bool ComputeFramePixels() const noexcept;
  // The pixels; null for a frame whose pixels have not been computed.
  uint8_t* Bits() noexcept { return const_cast<uint8_t*>(static_cast<const Dib*>(this)->Bits()); }
  const uint8_t* Bits() const noexcept;
  // Row y counted from the top of the picture, whatever the storage order; null as for Bits.
  const uint8_t* ScanLine(int y) const noexcept;
  bool SameGeometry(const BITMAPINFOHEADER& other) const noexcept;

  // Bytes of one row of `width` pixels at `bitCount` bits, padded to 4 bytes (15 counts as 16).
  static size_t RowBytes(int width, int bitCount) noexcept;
  // Number of colour-table entries the header implies (0 above 8 bits per pixel).
  static size_t ColorTableEntries(const BITMAPINFOHEADER& header) noexcept;

 private:
  struct Key {};  // lets only Create construct, through make_shared

 public:
  explicit Dib(Key) noexcept;

 private:
  BITMAPINFOHEADER header_{};
  std::vector<uint8_t> colorInfo_;
  struct FrameSlot;

  size_t stride_ = 0;
  // A frame's pixels come into being when asked for, which may be through a const Dib.
  mutable std::unique_ptr<uint8_t[]> bits_;
  std::unique_ptr<FrameSlot> frame_;  // Dibs made for frames only
};
