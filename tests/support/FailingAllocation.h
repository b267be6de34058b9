#pragma once
// Replaces the global operator new of the test binary that includes it, so a test can make one
// allocation fail as an exhausted heap would. Include it in exactly one file of a binary.

#include <atomic>
#include <cstdlib>
#include <new>
#include <thread>

namespace failing_allocation {
inline std::atomic<std::size_t> armedSize{0};
inline const std::thread::id mainThread = std::this_thread::get_id();
}  // namespace failing_allocation

// The next allocation of exactly `size` bytes made off the main thread throws std::bad_alloc;
// 0 disarms.
inline void FailNextAllocation(std::size_t size) {
  failing_allocation::armedSize = size;
}
// Armed and not yet triggered.
inline bool AllocationFailureArmed() {
  return failing_allocation::armedSize.load() != 0;
}

void* operator new(std::size_t size) {
  std::size_t armed = size;
  if (size != 0 && failing_allocation::armedSize.load() == size &&
      std::this_thread::get_id() != failing_allocation::mainThread &&
      failing_allocation::armedSize.compare_exchange_strong(armed, 0)) {
    throw std::bad_alloc();
  }
  if (void* p = std::malloc(size == 0 ? 1 : size))
    return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
