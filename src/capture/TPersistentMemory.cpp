#include "capture/TPersistentMemory.h"

#include <algorithm>

#include "platform/runtime/Error.h"

void TPersistentMemory::Allocate(std::uint32_t size) {
  bytes_.clear();
  bytes_.resize(size, 0);
}

std::vector<std::uint8_t> TPersistentMemory::WriteData() const {
  const std::uint32_t size = Size();
  std::vector<std::uint8_t> data(4 + bytes_.size());
  for (int i = 0; i < 4; ++i)
    data[i] = static_cast<std::uint8_t>(size >> (8 * i));
  std::copy(bytes_.begin(), bytes_.end(), data.begin() + 4);
  return data;
}

std::size_t TPersistentMemory::ReadData(std::span<const std::uint8_t> stream) {
  if (stream.size() < 4)
    RaiseError("Data block truncated");
  const std::uint32_t size =
      static_cast<std::uint32_t>(stream[0]) | static_cast<std::uint32_t>(stream[1]) << 8 |
      static_cast<std::uint32_t>(stream[2]) << 16 | static_cast<std::uint32_t>(stream[3]) << 24;
  // Checked before anything is allocated: a damaged length must not reserve gigabytes.
  if (stream.size() - 4 < size)
    RaiseError("Data block truncated");
  Assign(stream.subspan(4, size));
  return 4 + static_cast<std::size_t>(size);
}

void TBaseFilter::StoreMoniker(const platform::Moniker* moniker) {
  if (!moniker) {
    Free();
    return;
  }
  Assign(moniker->Save());
}

std::unique_ptr<platform::Moniker> TBaseFilter::LoadMoniker() const {
  if (Empty())
    return nullptr;
  return platform::Moniker::Load(Bytes());
}

platform::GstRef<GstElement> TBaseFilter::BindFilter() const {
  const std::unique_ptr<platform::Moniker> moniker = LoadMoniker();
  if (!moniker)
    return {};
  return moniker->BindToObject();
}
