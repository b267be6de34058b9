#pragma once
// Replaces the global allocation functions of the test binary that includes it, so a test can
// make one allocation fail as an exhausted heap would, or count the pixel buffers allocated.
// Include it in exactly one file of a binary. The array forms are always replaced (under
// AddressSanitizer they do not go through the plain ones); the plain forms not under
// ThreadSanitizer, whose own allocator is what keeps Qt's threads, which hand memory to each
// other through locks it cannot see, from being reported.

#include <atomic>
#include <cstdlib>
#include <new>
#include <thread>

namespace allocation_hooks {
inline std::atomic<std::size_t> failingSize{0};
inline std::atomic<std::size_t> countedSize{0};
inline std::atomic<int> counted{0};
inline const std::thread::id mainThread = std::this_thread::get_id();

inline void* Allocate(std::size_t size, bool array) {
  std::size_t armed = size;
  if (size != 0 && failingSize.load() == size && std::this_thread::get_id() != mainThread &&
      failingSize.compare_exchange_strong(armed, 0)) {
    throw std::bad_alloc();
  }
  if (array && size != 0 && size == countedSize.load())
    ++counted;
  if (void* p = std::malloc(size == 0 ? 1 : size))
    return p;
  throw std::bad_alloc();
}
}  // namespace allocation_hooks

#if defined(__SANITIZE_THREAD__)
inline constexpr bool kPlainAllocationsHooked = false;
#else
inline constexpr bool kPlainAllocationsHooked = true;
#endif

// The next allocation of exactly `size` bytes made off the main thread (an array one only, where
// the plain forms are not hooked) throws std::bad_alloc; 0 disarms.
inline void FailNextAllocation(std::size_t size) {
  allocation_hooks::failingSize = size;
}
// Armed and not yet triggered.
inline bool AllocationFailureArmed() {
  return allocation_hooks::failingSize.load() != 0;
}
// From now on, counts array allocations of exactly `size` bytes (0: none).
inline void CountArrayAllocations(std::size_t size) {
  allocation_hooks::countedSize = size;
}
inline int ArrayAllocationsCounted() {
  return allocation_hooks::counted.load();
}

#if !defined(__SANITIZE_THREAD__)
void* operator new(std::size_t size) {
  return allocation_hooks::Allocate(size, false);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
// The library's temporary buffers (std::stable_partition, say) come from these, and go back
// through the plain delete: both sides must be ours.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return allocation_hooks::Allocate(size, false);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
#endif
void* operator new[](std::size_t size) {
  return allocation_hooks::Allocate(size, true);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return allocation_hooks::Allocate(size, true);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
