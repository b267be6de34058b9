#include "platform/files/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

FileLock::~FileLock() {
  if (fd_ >= 0)
    ::close(fd_);  // releases the lock
}

int FileLock::Acquire(const std::string& lockPath, int timeoutMs) {
  if (fd_ >= 0)
    return 0;
  const int fd =
      ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0666);
  if (fd < 0)
    return errno;
  // Holders keep it for a read and a rename, milliseconds; poll rather than block for ever.
  const timespec pause{0, 2'000'000};
  for (int waited = 0;; waited += 2) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      fd_ = fd;
      return 0;
    }
    const int error = errno;
    if ((error != EWOULDBLOCK && error != EINTR) || waited >= timeoutMs) {
      ::close(fd);
      return error;
    }
    ::nanosleep(&pause, nullptr);
  }
}

}  // namespace platform
