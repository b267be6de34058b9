#include "platform/files/AtomicReplace.h"

#include <fcntl.h>
#include <sys/random.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>

namespace platform {
namespace {

// Hidden, and of a fixed length whatever the target's name, so a target name near the length
// limit still gets a temporary file.
std::string TempName(const std::string& folder) {
  static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  uint64_t bits = 0;
  if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bits)) {
    // Only this process' own names need to differ; O_EXCL settles any clash.
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    static uint64_t counter = 0;
    bits = (static_cast<uint64_t>(now.tv_nsec) << 20) ^ static_cast<uint64_t>(::getpid()) ^
           (++counter * 0x9E3779B97F4A7C15u);
  }
  std::string name = folder + "/.stillwick-";
  for (int i = 0; i < 10; ++i) {
    name += kChars[bits % (sizeof kChars - 1)];
    bits /= sizeof kChars - 1;
  }
  return name + ".tmp";
}

// A new file beside the others in `folder`: 0 or the errno of the failure.
int CreateTemp(const std::string& folder, mode_t mode, std::string& path, int& fd) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = TempName(folder);
    const int created = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (created >= 0) {
      path = std::move(name);
      fd = created;
      return 0;
    }
    if (errno != EEXIST)
      return errno;
  }
  return EEXIST;
}

}  // namespace

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos)
    return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

int ResolveLinks(const std::string& path, std::string& resolved) {
  std::string current = path;
  for (int hop = 0; hop <= 40; ++hop) {
    struct stat st {};
    if (::lstat(current.c_str(), &st) != 0) {
      if (errno != ENOENT)
        return errno;
      // A new file, or the target a dangling link names; a missing folder shows on creation.
      resolved = std::move(current);
      return 0;
    }
    if (!S_ISLNK(st.st_mode)) {
      resolved = std::move(current);
      return 0;
    }
    // Sized from the link itself; grown if it changed in between.
    std::string target(static_cast<size_t>(std::max<off_t>(st.st_size, 64)) + 1, '\0');
    for (;;) {
      const ssize_t n = ::readlink(current.c_str(), target.data(), target.size());
      if (n < 0)
        return errno;
      if (static_cast<size_t>(n) < target.size()) {
        target.resize(static_cast<size_t>(n));
        break;
      }
      target.resize(target.size() * 2);
    }
    if (target.empty() || target.front() != '/')
      target.insert(0, FolderOf(current) + "/");
    current = std::move(target);
  }
  return ELOOP;
}

bool CanCreateFileIn(const std::string& folder) {
  std::string path;
  int fd = -1;
  if (CreateTemp(folder, 0600, path, fd) != 0)
    return false;
  ::close(fd);
  ::unlink(path.c_str());
  return true;
}

AtomicReplace::~AtomicReplace() {
  Discard();
}

void AtomicReplace::Discard() noexcept {
  if (fd_ >= 0)
    ::close(fd_);
  fd_ = -1;
  if (!temp_.empty())
    ::unlink(temp_.c_str());
  temp_.clear();
}

int AtomicReplace::Begin(const std::string& path, Options options) {
  Discard();
  options_ = options;
  if (const int error = ResolveLinks(path, target_))
    return error;
  if (target_.empty() || target_.back() == '/')
    return target_.empty() ? ENOENT : EISDIR;

  // Opened as an overwrite in place would open it: what this user may not write is not replaced.
  struct stat old {};
  bool existed = false;
  const int probe = ::open(target_.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (probe >= 0) {
    const int statResult = ::fstat(probe, &old);
    ::close(probe);
    if (statResult != 0)
      return EIO;
    if (!S_ISREG(old.st_mode))
      return EEXIST;  // a device or pipe at the name is not ours to replace
    existed = true;
  } else if (errno != ENOENT) {
    return errno;
  }

  // A replacement starts private and takes the old file's mode below; a new file gets the mode
  // any new file gets here (umask, the folder's default ACL).
  if (const int error = CreateTemp(FolderOf(target_), existed ? 0600 : 0666, temp_, fd_))
    return error;
  if (!existed)
    return 0;

  struct stat made {};
  if (::fstat(fd_, &made) != 0)
    return EIO;
  if (made.st_uid != old.st_uid || made.st_gid != old.st_gid) {
    if (::fchown(fd_, old.st_uid, old.st_gid) != 0) {
      if (options_.owner == Owner::MustKeep)
        return EPERM;
      // Giving a file away is root's alone; the group stays where we belong to it.
      if (::fchown(fd_, static_cast<uid_t>(-1), old.st_gid) != 0) {
        // Not even that: the replacement keeps our own group.
      }
    }
  }
  // After the owner: a change of owner clears set-id bits.
  if (::fchmod(fd_, old.st_mode & 07777) != 0)
    return errno;
  return 0;
}

int AtomicReplace::Write(std::vector<iovec>& parts) {
  if (fd_ < 0)
    return EBADF;
  size_t first = 0;
  while (first < parts.size()) {
    const int count = static_cast<int>(std::min<size_t>(parts.size() - first, IOV_MAX));
    const ssize_t written = ::writev(fd_, parts.data() + first, count);
    if (written < 0) {
      if (errno == EINTR)
        continue;
      return errno;
    }
    auto left = static_cast<size_t>(written);
    if (left == 0 && parts[first].iov_len > 0)
      return EIO;  // no progress on a regular file; never loop on it
    while (first < parts.size() && left >= parts[first].iov_len) {
      left -= parts[first].iov_len;
      ++first;
    }
    if (left > 0) {
      parts[first].iov_base = static_cast<char*>(parts[first].iov_base) + left;
      parts[first].iov_len -= left;
    }
  }
  return 0;
}

int AtomicReplace::Write(std::string_view bytes) {
  std::vector<iovec> parts{{const_cast<char*>(bytes.data()), bytes.size()}};
  return Write(parts);
}

int AtomicReplace::Commit() {
  if (fd_ < 0)
    return EBADF;
  if (options_.sync && ::fsync(fd_) != 0) {
    const int error = errno;
    Discard();
    return error;
  }
  const int closed = ::close(fd_);
  fd_ = -1;
  if (closed != 0) {
    const int error = errno;
    Discard();
    return error;
  }
  if (::rename(temp_.c_str(), target_.c_str()) != 0) {
    const int error = errno;
    Discard();
    return error;
  }
  temp_.clear();
  return 0;
}

}  // namespace platform
