#include "capture/TMediaType.h"

#include <algorithm>
#include <cstring>

void FreeFormatBlock(MediaTypeRecord& record) noexcept {
  record.format.clear();
  record.format.shrink_to_fit();
  record.header.cbFormat = 0;
  record.header.pbFormat = 0;
  record.header.pUnk = 0;
}

void SetFormatBlock(MediaTypeRecord& record, std::span<const uint8_t> block) {
  record.format.assign(block.begin(), block.end());
  record.header.cbFormat = static_cast<uint32_t>(block.size());
  record.header.pbFormat = 0;
}

bool SameMediaType(const MediaTypeRecord& a, const MediaTypeRecord& b) noexcept {
  return a.header.majortype == b.header.majortype && a.header.subtype == b.header.subtype &&
         a.header.formattype == b.header.formattype && a.header.cbFormat == b.header.cbFormat &&
         a.format == b.format;
}

TMediaType::TMediaType(const GUID& majortype) {
  record_.header = AM_MEDIA_TYPE{};
  record_.header.lSampleSize = 1;
  record_.header.bFixedSizeSamples = kTrue32;
  record_.header.majortype = majortype;
}

std::vector<uint8_t> TMediaType::Data() const {
  AM_MEDIA_TYPE image = record_.header;
  image.pUnk = 0;
  image.pbFormat = 0;
  image.cbFormat = static_cast<uint32_t>(record_.format.size());
  std::vector<uint8_t> data(sizeof(image) + record_.format.size());
  std::memcpy(data.data(), &image, sizeof(image));
  std::copy(record_.format.begin(), record_.format.end(), data.begin() + sizeof(image));
  return data;
}

bool TMediaType::SetData(std::span<const uint8_t> data) {
  AM_MEDIA_TYPE image;
  if (data.size() < sizeof(image))
    return false;
  std::memcpy(&image, data.data(), sizeof(image));
  if (data.size() - sizeof(image) != image.cbFormat)
    return false;

  FreeFormatBlock(record_);
  record_.header = image;
  SetFormatBlock(record_, data.subspan(sizeof(image)));
  record_.header.pUnk = 0;
  return true;
}
