#include "platform/files/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

FileLock::~FileLock() {
  if (fd_ >= 0)
    ::close(fd_);  // releases the lock
}

int FileLock::Acquire(const std::string& lockPath, mode_t mode, int timeoutMs) {
  if (fd_ >= 0)
    return 0;
  // O_NONBLOCK: a FIFO planted at the name must not hang the open; it is refused below.
  const int fd = ::open(lockPath.c_str(),
                        O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK, mode);
  if (fd < 0)
    return errno;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return EEXIST;
  }
  if (st.st_uid == ::geteuid() && (st.st_mode & 0777 & ~mode) != 0 &&
      ::fchmod(fd, st.st_mode & mode & 0777) != 0) {
    // An older, wider lock file stays as it is; the lock works all the same.
  }
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
