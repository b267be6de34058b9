#include "platform/files/AtomicReplace.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/random.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>

namespace platform {
namespace {

constexpr char kTempHead[] = ".stillwick-";
constexpr char kTempTail[] = ".tmp";
constexpr size_t kTempRandom = 10;

// Hidden, named for its writer's process id (leftovers of a writer that died are recognised by
// it), and short whatever the target's name, so a target name near the length limit still gets
// a temporary file: ".stillwick-<pid>-<10 letters>.tmp".
std::string TempName(const std::string& folder) {
  static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  uint64_t bits = 0;
  if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bits)) {
    // Only this process' own names need to differ; O_EXCL settles any clash.
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    static uint64_t counter = 0;
    bits = (static_cast<uint64_t>(now.tv_nsec) << 20) ^ (++counter * 0x9E3779B97F4A7C15u);
  }
  std::string name = folder + "/" + kTempHead + std::to_string(::getpid()) + "-";
  for (size_t i = 0; i < kTempRandom; ++i) {
    name += kChars[bits % (sizeof kChars - 1)];
    bits /= sizeof kChars - 1;
  }
  return name + kTempTail;
}

// The writer's process id in a name of TempName's pattern; 0 for any other name.
pid_t WriterOf(std::string_view name) {
  if (!name.starts_with(kTempHead) || !name.ends_with(kTempTail))
    return 0;
  name.remove_prefix(sizeof kTempHead - 1);
  name.remove_suffix(sizeof kTempTail - 1);
  const size_t dash = name.find('-');
  if (dash == 0 || dash > 9 || name.size() != dash + 1 + kTempRandom)
    return 0;
  pid_t pid = 0;
  for (size_t i = 0; i < dash; ++i) {
    if (name[i] < '0' || name[i] > '9')
      return 0;
    pid = pid * 10 + (name[i] - '0');
  }
  for (const char c : name.substr(dash + 1)) {
    if (!std::isalnum(static_cast<unsigned char>(c)))
      return 0;
  }
  return pid;
}

// A new file beside the others in `folder`, locked (flock) for as long as it is open, so that
// no other process takes it for a leftover: 0 or the errno of the failure.
int CreateTemp(const std::string& folder, mode_t mode, std::string& path, int& fd) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = TempName(folder);
    const int created = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (created < 0) {
      if (errno != EEXIST)
        return errno;
      continue;
    }
    // Between creation and lock another machine's writer, to which our process id means
    // nothing, may have taken the file for a leftover; then it is gone, or about to be.
    struct stat st {};
    if (::flock(created, LOCK_EX | LOCK_NB) != 0 || ::fstat(created, &st) != 0 ||
        st.st_nlink == 0) {
      ::unlink(name.c_str());
      ::close(created);
      continue;
    }
    path = std::move(name);
    fd = created;
    return 0;
  }
  return EEXIST;
}

// Removes the temporary files a killed or crashed writer left in `folder`: names of our own
// pattern only, files of this user only, and only those whose writer is not running here and
// whose lock nobody holds (a writer on another machine sharing the folder, or in another pid
// namespace, holds its lock while it writes). A pid reused since keeps its leftover for later.
void RemoveLeftovers(const std::string& folder) {
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), &::closedir);
  if (!dir)
    return;
  const uid_t me = ::geteuid();
  while (const dirent* entry = ::readdir(dir.get())) {
    const pid_t writer = WriterOf(entry->d_name);
    if (writer <= 0 || writer == ::getpid() || ::kill(writer, 0) == 0 || errno != ESRCH)
      continue;
    const std::string path = folder + "/" + entry->d_name;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
      continue;
    struct stat held {};
    struct stat named {};
    if (::fstat(fd, &held) == 0 && S_ISREG(held.st_mode) && held.st_uid == me &&
        ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::lstat(path.c_str(), &named) == 0 &&
        named.st_dev == held.st_dev && named.st_ino == held.st_ino) {
      ::unlink(path.c_str());
    }
    ::close(fd);
  }
}

// Once a process, before its first write into a folder.
void RemoveLeftoversOnce(const std::string& folder) {
  static std::mutex lock;
  static std::set<std::string> done;
  {
    std::lock_guard guard(lock);
    if (!done.insert(folder).second)
      return;
  }
  RemoveLeftovers(folder);
}

// The kernel's rule for links (fs.protected_symlinks), applied whatever that setting: a link in
// a folder that is sticky and world-writable is followed only when it is this user's or the
// folder owner's, so a link another user planted in a shared folder is never followed.
int MayFollow(const std::string& folder, const struct stat& link) {
  if (link.st_uid == ::geteuid())
    return 0;
  struct stat st {};
  if (::stat(folder.empty() ? "." : folder.c_str(), &st) != 0)
    return errno;
  if ((st.st_mode & (S_ISVTX | S_IWOTH)) != (S_ISVTX | S_IWOTH))
    return 0;
  return st.st_uid == link.st_uid ? 0 : EACCES;
}

std::string ReadLink(const std::string& path, const struct stat& st, int& error) {
  // Sized from the link itself; grown if it changed in between.
  std::string target(static_cast<size_t>(std::max<off_t>(st.st_size, 64)) + 1, '\0');
  for (;;) {
    const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    if (n < 0) {
      error = errno;
      return {};
    }
    if (static_cast<size_t>(n) < target.size()) {
      target.resize(static_cast<size_t>(n));
      error = target.empty() ? ENOENT : 0;
      return target;
    }
    target.resize(target.size() * 2);
  }
}

}  // namespace

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos)
    return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

int ResolveLinks(const std::string& path, std::string& resolved) {
  // The names still to walk, last first; a link's target goes in place of the link.
  std::vector<std::string> pending;
  const auto push = [&pending](std::string_view names) {
    std::vector<std::string> parts;
    for (size_t begin = 0; begin <= names.size();) {
      const size_t end = std::min(names.find('/', begin), names.size());
      if (end > begin)
        parts.emplace_back(names.substr(begin, end - begin));
      begin = end + 1;
    }
    pending.insert(pending.end(), parts.rbegin(), parts.rend());
  };
  // Free of links at every step: "a/.." is "" (the current folder) and "/.." is "/".
  std::string walked = path.starts_with('/') ? "/" : "";
  push(path);
  int hops = 0;
  while (!pending.empty()) {
    const std::string name = std::move(pending.back());
    pending.pop_back();
    if (name == ".")
      continue;
    const size_t slash = walked.rfind('/');
    const std::string_view last =
        std::string_view(walked).substr(slash == std::string::npos ? 0 : slash + 1);
    if (name == ".." && !last.empty() && last != "..") {
      walked.resize(slash == std::string::npos ? 0 : std::max<size_t>(slash, 1));
      continue;
    }
    if (name == "..") {
      if (walked != "/")
        walked += walked.empty() ? ".." : "/..";
      continue;
    }
    const std::string folder = walked;
    std::string next = walked;
    if (!next.empty() && next != "/")
      next += '/';
    next += name;
    struct stat st {};
    if (::lstat(next.c_str(), &st) != 0) {
      if (errno != ENOENT)
        return errno;
      // A new file, or the target a dangling link names; a missing folder shows on creation.
      for (; !pending.empty(); pending.pop_back())
        next.append("/").append(pending.back());
      resolved = std::move(next);
      return 0;
    }
    if (!S_ISLNK(st.st_mode)) {
      walked = std::move(next);
      continue;
    }
    if (++hops > 40)
      return ELOOP;
    if (const int error = MayFollow(folder, st))
      return error;
    int error = 0;
    const std::string target = ReadLink(next, st, error);
    if (error != 0)
      return error;
    if (target.front() == '/')
      walked.assign(1, '/');  // not = "/": GCC 12 then warns of an overlapping copy
    push(target);
  }
  resolved = walked.empty() ? "." : std::move(walked);
  return 0;
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
  if (path.empty() || path.back() == '/')
    return path.empty() ? ENOENT : EISDIR;
  if (const int error = ResolveLinks(path, target_))
    return error;

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
  const std::string folder = FolderOf(target_);
  RemoveLeftoversOnce(folder);
  if (const int error = CreateTemp(folder, existed ? 0600 : 0666, temp_, fd_))
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
  // The lock stays on a second descriptor until the rename: the close reports a delayed write
  // error while the file is still ours.
  const int held = ::dup(fd_);
  const int closed = ::close(fd_);
  fd_ = -1;
  int error = closed != 0 ? errno : 0;
  if (error == 0 && ::rename(temp_.c_str(), target_.c_str()) != 0)
    error = errno;
  if (error != 0)
    Discard();
  temp_.clear();
  if (held >= 0)
    ::close(held);
  return error;
}

}  // namespace platform
