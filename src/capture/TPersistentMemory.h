#pragma once
// A byte block that a component keeps and persists as its "data" property, and the capture
// source's block, which holds one device moniker. Main thread only.

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "platform/media/GstRef.h"
#include "platform/media/Moniker.h"
#include "platform/media/Pipeline.h"

class TPersistentMemory {
 public:
  TPersistentMemory() = default;
  TPersistentMemory(const TPersistentMemory&) = default;
  TPersistentMemory& operator=(const TPersistentMemory&) = default;  // copies the bytes
  virtual ~TPersistentMemory() = default;

  // Drops the block, then makes one of `size` zero bytes (0: empty).
  void Allocate(std::uint32_t size);
  // Empties the block.
  void Free() noexcept { bytes_.clear(); }

  std::uint32_t Size() const noexcept { return static_cast<std::uint32_t>(bytes_.size()); }
  bool Empty() const noexcept { return bytes_.empty(); }
  // The bytes; null while empty.
  std::uint8_t* Memory() noexcept { return bytes_.empty() ? nullptr : bytes_.data(); }
  const std::uint8_t* Memory() const noexcept { return bytes_.empty() ? nullptr : bytes_.data(); }
  const std::vector<std::uint8_t>& Bytes() const noexcept { return bytes_; }
  void Assign(std::span<const std::uint8_t> bytes) { bytes_.assign(bytes.begin(), bytes.end()); }

  // The "data" property: a 4-byte little-endian length, then that many bytes.
  std::vector<std::uint8_t> WriteData() const;
  // Reads one "data" property from the start of `stream` and returns the bytes it took. Raises
  // an error and keeps the block as it was when the stream ends before the length says.
  std::size_t ReadData(std::span<const std::uint8_t> stream);

 private:
  std::vector<std::uint8_t> bytes_;
};

class TBaseFilter : public TPersistentMemory {
 public:
  // The block becomes the saved moniker; null empties it.
  void StoreMoniker(const platform::Moniker* moniker);
  // Null when the block is empty or holds no moniker.
  std::unique_ptr<platform::Moniker> LoadMoniker() const;
  // The device's source element bound from the stored moniker; null when there is none or
  // binding fails.
  platform::GstRef<GstElement> BindFilter() const;
};
