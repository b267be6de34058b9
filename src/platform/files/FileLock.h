#pragma once
// An advisory lock (flock) held on a lock file for the guard's lifetime, so that running copies of
// the program take turns at a shared file. The lock file stays: removing it would let two
// writers lock two different files. Main thread only.

#include <sys/types.h>

#include <string>

namespace platform {

class FileLock {
 public:
  FileLock() = default;
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Takes the exclusive lock on `lockPath`, creating the file with `mode`. Whoever may open the
  // file may hold the lock (a read-only descriptor is enough), so `mode` should admit exactly
  // those who may change what it guards; an existing lock file of ours is narrowed to it. A link
  // at the name is not followed (ELOOP) and anything but a regular file is refused (EEXIST).
  // Tries without blocking, then again every 2 ms for at most `timeoutMs` (a hung peer must not
  // hang us; 0: no wait at all), then fails with EWOULDBLOCK. 0 or the errno of the failure.
  int Acquire(const std::string& lockPath, mode_t mode = 0600, int timeoutMs = 5000);
  bool Held() const noexcept { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace platform
