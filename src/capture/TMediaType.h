#pragma once
// The media type record of the capture layer: the 72-byte image of its 32-bit
// layout, the format block that follows it, and TMediaType, the owned and persistent form.
// The layouts are byte-exact because the persistent form stores them raw.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/picture/Dib.h"

#pragma pack(push, 1)
struct GUID {
  uint32_t Data1 = 0;
  uint16_t Data2 = 0;
  uint16_t Data3 = 0;
  uint8_t Data4[8] = {};

  friend bool operator==(const GUID&, const GUID&) = default;
};

// pUnk and pbFormat are 32-bit placeholders: the image is stored with both at 0, and a
// MediaTypeRecord keeps the format block beside the image instead of behind a pointer.
struct AM_MEDIA_TYPE {
  GUID majortype;
  GUID subtype;
  int32_t bFixedSizeSamples = 0;
  int32_t bTemporalCompression = 0;
  uint32_t lSampleSize = 0;
  GUID formattype;
  uint32_t pUnk = 0;
  uint32_t cbFormat = 0;
  uint32_t pbFormat = 0;
};

struct RECT {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
};

struct VIDEOINFOHEADER {
  RECT rcSource;
  RECT rcTarget;
  uint32_t dwBitRate = 0;
  uint32_t dwBitErrorRate = 0;
  int64_t AvgTimePerFrame = 0;  // 100 ns units
  BITMAPINFOHEADER bmiHeader;
};

struct VIDEOINFOHEADER2 {
  RECT rcSource;
  RECT rcTarget;
  uint32_t dwBitRate = 0;
  uint32_t dwBitErrorRate = 0;
  int64_t AvgTimePerFrame = 0;
  uint32_t dwInterlaceFlags = 0;
  uint32_t dwCopyProtectFlags = 0;
  uint32_t dwPictAspectRatioX = 0;
  uint32_t dwPictAspectRatioY = 0;
  uint32_t dwControlFlags = 0;
  uint32_t dwReserved2 = 0;
  BITMAPINFOHEADER bmiHeader;
};
#pragma pack(pop)

static_assert(sizeof(GUID) == 16);
static_assert(sizeof(AM_MEDIA_TYPE) == 72);
static_assert(offsetof(AM_MEDIA_TYPE, formattype) == 44);
static_assert(offsetof(AM_MEDIA_TYPE, cbFormat) == 64);
static_assert(sizeof(VIDEOINFOHEADER) == 88);
static_assert(offsetof(VIDEOINFOHEADER, bmiHeader) == 48);
static_assert(sizeof(VIDEOINFOHEADER2) == 112);
static_assert(offsetof(VIDEOINFOHEADER2, bmiHeader) == 72);

constexpr int32_t kTrue32 = -1;  // a 32-bit boolean TRUE as the record stores it

constexpr GUID GUID_NULL{};
constexpr GUID MEDIATYPE_Video{
    0x73646976, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
constexpr GUID MEDIASUBTYPE_RGB24{
    0xE436EB7D, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
constexpr GUID MEDIASUBTYPE_RGB32{
    0xE436EB7E, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
constexpr GUID FORMAT_VideoInfo{
    0x05589F80, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
constexpr GUID FORMAT_VideoInfo2{
    0xF72A76A0, 0xEB0A, 0x11D0, {0xAC, 0xE4, 0x00, 0x00, 0xC0, 0xCC, 0x16, 0xBA}};

// A media type record with the format block it owns. Invariant: header.cbFormat equals
// format.size(); header.pUnk and header.pbFormat stay 0.
struct MediaTypeRecord {
  AM_MEDIA_TYPE header;
  std::vector<uint8_t> format;

  const uint8_t* pbFormat() const noexcept { return format.empty() ? nullptr : format.data(); }
};

// Releases the record's format block: cbFormat 0, no block, no pUnk.
void FreeFormatBlock(MediaTypeRecord& record) noexcept;
// Replaces the record's format block with a copy of `block`.
void SetFormatBlock(MediaTypeRecord& record, std::span<const uint8_t> block);

// Equal major, sub and format types, equal block lengths and byte-equal blocks.
bool SameMediaType(const MediaTypeRecord& a, const MediaTypeRecord& b) noexcept;

class TMediaType {
 public:
  // Zero-filled, then lSampleSize 1, bFixedSizeSamples TRUE and the major type given.
  explicit TMediaType(const GUID& majortype);
  ~TMediaType() { FreeFormatBlock(record_); }
  TMediaType(const TMediaType&) = default;
  TMediaType& operator=(const TMediaType&) = default;

  const MediaTypeRecord& Record() const noexcept { return record_; }
  MediaTypeRecord& Record() noexcept { return record_; }
  const GUID& Majortype() const noexcept { return record_.header.majortype; }
  const GUID& Subtype() const noexcept { return record_.header.subtype; }
  const GUID& FormatType() const noexcept { return record_.header.formattype; }

  void SetSubtype(const GUID& subtype) noexcept { record_.header.subtype = subtype; }
  void SetFormatType(const GUID& formattype) noexcept { record_.header.formattype = formattype; }

  // The persistent "data" form: the 72-byte image, then cbFormat bytes of block.
  std::vector<uint8_t> Data() const;
  // Reads the "data" form. False, with the type unchanged, when the bytes are not exactly one
  // image and the block its cbFormat announces.
  bool SetData(std::span<const uint8_t> data);

  friend bool operator==(const TMediaType& a, const TMediaType& b) noexcept {
    return SameMediaType(a.record_, b.record_);
  }

 private:
  MediaTypeRecord record_;
};
