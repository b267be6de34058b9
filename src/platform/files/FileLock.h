#pragma once
// An advisory lock (flock) held on a lock file for the guard's lifetime, so that running copies of
// the program take turns at a shared file. The lock file stays: removing it would let two
// writers lock two different files. Main thread only.

#include <string>

namespace platform {

class FileLock {
 public:
  FileLock() = default;
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Takes the exclusive lock on `lockPath`, creating the file; waits at most `timeoutMs` for
  // another holder (a hung peer must not hang us). 0 or the errno of the failure.
  int Acquire(const std::string& lockPath, int timeoutMs = 5000);
  bool Held() const noexcept { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace platform
