#include "platform/BmpFile.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "platform/Error.h"

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

[[noreturn]] void Fail(const std::string& fileName, int error) {
  // Main thread only, so strerror's shared buffer is safe.
  RaiseError(
      FormatMessage("Cannot create file \"%s\". %s", fileName.c_str(), std::strerror(error)));
}

std::string RandomName() {
  static std::mt19937_64 engine{std::random_device{}()};
  static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::string name = ".stillwick-";
  for (int i = 0; i < 10; ++i) {
    name += kChars[engine() % (sizeof(kChars) - 1)];
  }
  return name + ".tmp";
}

// The new picture, under a hidden name beside its target until it is renamed into place.
// Whatever has not been committed is closed and removed on the way out.
class TempFile {
 public:
  TempFile() = default;
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
    if (!path_.empty()) {
      ::unlink(path_.c_str());
    }
  }

  // 0 or the errno of the failure. The name is our own rather than mkstemp's because open()
  // with 0666 gives the file the mode of any newly created file (umask, the folder's default
  // ACL); mkstemp's 0600 would need fixing afterwards.
  int Create(const std::string& folderPrefix) {
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::string path = folderPrefix + RandomName();
      const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd >= 0) {
        fd_ = fd;
        path_ = std::move(path);
        return 0;
      }
      if (errno != EEXIST) {
        return errno;
      }
    }
    return EEXIST;
  }

  int fd() const noexcept { return fd_; }

  // A delayed write error (network file systems report them here) fails the picture too.
  int Close() {
    const int result = ::close(fd_);
    fd_ = -1;
    return result == 0 ? 0 : errno;
  }

  int RenameTo(const std::string& target) {
    if (::rename(path_.c_str(), target.c_str()) != 0) {
      return errno;
    }
    path_.clear();
    return 0;
  }

 private:
  int fd_ = -1;
  std::string path_;
};

// Writes every byte of `parts`, resuming after short writes. 0 or the errno of the failure:
// a full disk shows as a short write followed by ENOSPC.
int WriteAll(int fd, std::vector<iovec>& parts) {
  size_t first = 0;
  while (first < parts.size()) {
    const int count = static_cast<int>(std::min<size_t>(parts.size() - first, IOV_MAX));
    const ssize_t written = ::writev(fd, parts.data() + first, count);
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      return errno;
    }
    if (written == 0) {
      return EIO;  // no progress on a regular file; never loop on it
    }
    auto left = static_cast<size_t>(written);
    while (first < parts.size() && left >= parts[first].iov_len) {
      left -= parts[first].iov_len;
      ++first;
    }
    if (left > 0) {
      parts[first].iov_base = static_cast<uint8_t*>(parts[first].iov_base) + left;
      parts[first].iov_len -= left;
    }
  }
  return 0;
}

}  // namespace

// Not synced to disk: a picture is one of a series taken on the main thread under the display
// lock, and fsync would cost several times the write itself. Replacement by rename still keeps
// a crash of this process from leaving half a picture, and every error the kernel does report
// (short writes, ENOSPC, EIO at close) fails the write.
void WriteBmpFile(const std::string& fileName, const Dib& dib) {
  const auto& colorInfo = dib.ColorInfo();
  const size_t height = static_cast<size_t>(dib.Height());
  const size_t imageSize = dib.ImageSize();
  const size_t offset = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + colorInfo.size();
  if (offset + imageSize > UINT32_MAX) {
    Fail(fileName, EFBIG);
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

  // The pixels go straight from the Dib: bottom row first, adjacent rows merged, so a
  // bottom-up Dib is one piece and a top-down one a piece per row, without a copy.
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

  const size_t slash = fileName.rfind('/');
  const std::string folderPrefix =
      slash == std::string::npos ? std::string() : fileName.substr(0, slash + 1);
  TempFile temp;
  if (const int error = temp.Create(folderPrefix)) {
    Fail(fileName, error);
  }
  if (const int error = WriteAll(temp.fd(), parts)) {
    Fail(fileName, error);
  }
  if (const int error = temp.Close()) {
    Fail(fileName, error);
  }
  if (const int error = temp.RenameTo(fileName)) {
    Fail(fileName, error);
  }
}
