#include "platform/picture/BmpFile.h"

#include <sys/uio.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/files/AtomicReplace.h"
#include "platform/runtime/Error.h"

// The headers are written as they lie in memory.
static_assert(std::endian::native == std::endian::little);

namespace {

#pragma pack(push, 1)
struct BITMAPFILEHEADER {
  uint16_t bfType = 0x4D42;  // "BM"
  uint32_t bfSize = 0;
  uint16_t bfReserved1 = 0;
  uint16_t bfReserved2 = 0;
  uint32_t bfOffBits = 0;
};
#pragma pack(pop)
static_assert(sizeof(BITMAPFILEHEADER) == 14);

// The pixels straight from the Dib: bottom row first, adjacent rows merged, so a bottom-up Dib
// is one piece and a top-down one a piece per row, without a copy.
int WriteRows(platform::AtomicReplace& file, std::vector<uint8_t>& head, const Dib& dib) {
  const size_t height = static_cast<size_t>(dib.Height());
  std::vector<iovec> parts;
  parts.reserve(height + 1);
  parts.push_back({head.data(), head.size()});
  bool first = true;
  for (size_t row = height; row-- > 0;) {
    auto* line = const_cast<uint8_t*>(dib.ScanLine(static_cast<int>(row)));
    iovec& last = parts.back();
    if (!first && static_cast<uint8_t*>(last.iov_base) + last.iov_len == line) {
      last.iov_len += dib.Stride();
    } else {
      parts.push_back({line, dib.Stride()});
    }
    first = false;
  }
  return file.Write(parts);
}

// 32 bits a pixel: the bits no mask uses (the fourth byte of BI_RGB) are written as 0, whatever
// the Dib holds there (a painter's opaque alpha, a device's padding), since decoders that take
// them for alpha show the picture transparent. Through a buffer, some rows at a time.
int WriteMasked(platform::AtomicReplace& file, const std::vector<uint8_t>& head, const Dib& dib) {
  uint32_t used = 0x00FFFFFF;
  const auto& masks = dib.ColorInfo();
  if (dib.Header().biCompression == BI_BITFIELDS && masks.size() >= 12) {
    used = 0;
    for (size_t k = 0; k < 3; ++k) {
      uint32_t mask = 0;
      std::memcpy(&mask, masks.data() + 4 * k, sizeof mask);
      used |= mask;
    }
  }
  if (const int error =
          file.Write(std::string_view(reinterpret_cast<const char*>(head.data()), head.size())))
    return error;
  const size_t stride = dib.Stride();
  const size_t rowsAtOnce = std::max<size_t>(1, (size_t{1} << 20) / stride);
  std::vector<uint32_t> buffer(rowsAtOnce * stride / 4);
  for (int row = dib.Height(); row > 0;) {
    const int rows = static_cast<int>(std::min<size_t>(rowsAtOnce, static_cast<size_t>(row)));
    uint32_t* out = buffer.data();
    for (int k = 0; k < rows; ++k, out += stride / 4) {
      std::memcpy(out, dib.ScanLine(--row), stride);
      for (size_t x = 0; x < stride / 4; ++x)
        out[x] &= used;
    }
    const size_t bytes = static_cast<size_t>(rows) * stride;
    if (const int error =
            file.Write(std::string_view(reinterpret_cast<const char*>(buffer.data()), bytes)))
      return error;
  }
  return 0;
}

}  // namespace

namespace platform {

void RaiseCannotCreate(const std::string& fileName, int error) {
  // Main thread only, so strerror's shared buffer is safe.
  RaiseError(
      FormatMessage("Cannot create file \"%s\". %s", fileName.c_str(), std::strerror(error)));
}

// Not synced to disk: a picture is one of a series taken on the main thread, and fsync would
// cost several times the write itself. Replacement by rename still keeps a crash of this
// process from leaving half a picture, and every error the kernel does report (short writes,
// ENOSPC, EIO at close) fails the write.
void WriteBmpFile(const std::string& fileName, const Dib& dib) {
  if (!dib.Bits())
    RaiseCannotCreate(fileName, EINVAL);
  const auto& colorInfo = dib.ColorInfo();
  const size_t imageSize = dib.ImageSize();
  const size_t offset = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + colorInfo.size();
  if (offset + imageSize > UINT32_MAX) {
    RaiseCannotCreate(fileName, EFBIG);
  }

  BITMAPFILEHEADER fileHeader;
  fileHeader.bfSize = static_cast<uint32_t>(offset + imageSize);
  fileHeader.bfOffBits = static_cast<uint32_t>(offset);
  BITMAPINFOHEADER infoHeader = dib.Header();
  infoHeader.biSize = sizeof(BITMAPINFOHEADER);
  infoHeader.biHeight = dib.Height();
  infoHeader.biSizeImage = static_cast<uint32_t>(imageSize);

  std::vector<uint8_t> head(offset);
  std::memcpy(head.data(), &fileHeader, sizeof fileHeader);
  std::memcpy(head.data() + sizeof fileHeader, &infoHeader, sizeof infoHeader);
  std::copy(colorInfo.begin(), colorInfo.end(),
            head.begin() + sizeof fileHeader + sizeof infoHeader);

  AtomicReplace file;
  int error = file.Begin(fileName, {});
  if (error == 0)
    error = dib.BitCount() == 32 ? WriteMasked(file, head, dib) : WriteRows(file, head, dib);
  if (error == 0)
    error = file.Commit();
  if (error != 0)
    RaiseCannotCreate(fileName, error);
}

}  // namespace platform
