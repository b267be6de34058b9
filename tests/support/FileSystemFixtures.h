#pragma once
// Stand-ins for the file systems users have: a small full disk, and a user who is not root
// (tests run as root, which writes through permission bits); and what a folder holds.

#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>

#include <functional>
#include <string>

namespace testfs {

inline constexpr uid_t kNobody = 65534;
inline constexpr gid_t kNogroup = 65534;

// Everything in `folder`, hidden files and dangling links included, by name.
inline QStringList Entries(const QString& folder) {
  return QDir(folder).entryList(
      QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// Runs `body` in a child process, as the user nobody when we are root (else as ourselves, who is
// no more privileged), and returns its result; -1 when the child could not run or drop its
// rights. The child must touch only files: the parent's other threads are not there.
inline int RunUnprivileged(const std::function<int()>& body) {
  const pid_t child = ::fork();
  if (child < 0)
    return -1;
  if (child == 0) {
    if (::geteuid() == 0 &&
        (::setgroups(0, nullptr) != 0 || ::setgid(kNogroup) != 0 || ::setuid(kNobody) != 0)) {
      ::_exit(255);
    }
    ::_exit(body() & 0xFF);
  }
  int status = 0;
  if (::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) == 255)
    return -1;
  return WEXITSTATUS(status);
}

// A tmpfs of `bytes` at `folder`, seen by the calling thread only (a mount namespace of its own)
// and gone when the guard is: a full disk without filling a real one. Needs CAP_SYS_ADMIN.
class SmallDisk {
 public:
  SmallDisk(const std::string& folder, size_t bytes) : folder_(folder) {
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
      return;
    }
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0777";
    mounted_ =
        ::mount("tmpfs", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
  }
  ~SmallDisk() {
    if (mounted_)
      ::umount2(folder_.c_str(), MNT_DETACH);
  }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

  bool Mounted() const { return mounted_; }
  static const char* SkipReason() {
    return "cannot mount a small tmpfs here (needs CAP_SYS_ADMIN): full-disk case not run";
  }

 private:
  std::string folder_;
  bool mounted_ = false;
};

}  // namespace testfs
