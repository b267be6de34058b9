#pragma once
// Replacing a file whole: the new content goes to a temporary file in the folder of the file it
// replaces and is renamed over it, so the name holds the old content or the new, never part of
// either. Pictures and the settings file are written this way.
//
// A name that is a symbolic link stands for the file it points to: that file is replaced (in its
// own folder) and the link stays, but only where the kernel would follow the link (see
// ResolveLinks). An existing file is replaced only where this user could open it for writing,
// as an overwrite in place would; the replacement keeps its mode, and its owner and group as far
// as the options ask. Every failure leaves the old file as it was and removes the temporary
// file. Failures are reported as errno values (0 = success). Main thread only.
//
// The temporary file carries its writer's process id in its name and is locked (flock) while it
// exists; the first write of a process into a folder removes the temporaries that writers no
// longer running left there (killed, or a power cut): this user's files of that name pattern
// alone, and only those nobody holds locked.

#include <sys/stat.h>
#include <sys/uio.h>

#include <string>
#include <string_view>
#include <vector>

namespace platform {

class AtomicReplace {
 public:
  enum class Owner {
    // A file whose owner and group cannot be kept is not replaced (EPERM).
    MustKeep,
    // Kept where this user may; otherwise the replacement is this user's.
    KeepWherePermitted,
  };
  struct Options {
    Owner owner = Owner::KeepWherePermitted;
    // fsync before the rename: after a system crash the name holds the old file or the whole new
    // one. Costs several times a small write.
    bool sync = false;
  };

  AtomicReplace() = default;
  ~AtomicReplace();
  AtomicReplace(const AtomicReplace&) = delete;
  AtomicReplace& operator=(const AtomicReplace&) = delete;

  // Prepares the replacement of `path`: resolves links, checks the existing file, removes the
  // folder's leftovers (first time only) and creates the temporary file with its mode and owner.
  int Begin(const std::string& path, Options options);
  // Every byte, resuming after short writes; a full disk shows as ENOSPC.
  int Write(std::vector<iovec>& parts);
  int Write(std::string_view bytes);
  // Flushes, closes (a delayed write error fails it too) and renames over the target.
  int Commit();

 private:
  void Discard() noexcept;

  Options options_;
  std::string target_;
  std::string temp_;  // while it exists and is ours to remove
  int fd_ = -1;
};

// `path` with every symbolic link on the way followed (folders and links to links included), to
// the file it ends at, which need not exist. A link is followed only where the kernel's
// fs.protected_symlinks rule lets it be, whatever that setting is here: in a folder that is
// sticky and world-writable, a link owned by neither this user nor the folder's owner is not
// followed (EACCES), so a link another user planted in a shared folder never redirects a write.
int ResolveLinks(const std::string& path, std::string& resolved);
// The folder part of `path` ("." when it has none).
std::string FolderOf(const std::string& path);
// Whether a new file can be made in `folder`: tried, since permission bits do not tell (root,
// read-only mounts). Nothing is left behind.
bool CanCreateFileIn(const std::string& folder);

}  // namespace platform
