#include "platform/media/GraphRegistry.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include "platform/files/AtomicReplace.h"
#include "platform/media/GstRef.h"
#include "platform/runtime/Error.h"

namespace platform {

std::string GraphRegistry::Folder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime)
    return std::string(runtime) + "/stillwick";
  return QDir::tempPath().toStdString() + "/stillwick-" + std::to_string(::geteuid());
}

namespace {

// Makes the folder where missing. False unless it is a folder of this user's own: in a shared
// temp folder another user may have made the name first, as a link or as a folder of theirs,
// and what runs here is not written there.
bool OwnFolder(const std::string& folder) {
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
    return false;
  // O_NOFOLLOW: a link at the name fails here, whatever it points to.
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0)
    return false;
  struct stat st {};
  const bool own = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
                   ((st.st_mode & 077) == 0 || ::fchmod(fd, 0700) == 0);
  ::close(fd);
  return own;
}

// A process that ended without withdrawing (a crash, a kill) leaves its entry behind; the
// entries of processes that no longer exist are removed before a new one is made.
void RemoveDeadEntries(const QString& folder) {
  static const QRegularExpression entry("^FilterGraph [0-9A-F]{8} pid ([0-9A-F]+)\\.dot$");
  QDir dir(folder);
  for (const QString& name : dir.entryList(QDir::Files)) {
    const QRegularExpressionMatch match = entry.match(name);
    if (!match.hasMatch())
      continue;
    bool ok = false;
    const qlonglong pid = match.captured(1).toLongLong(&ok, 16);
    if (!ok || pid <= 0 || pid > INT32_MAX)
      continue;
    if (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
      dir.remove(name);
  }
}

}  // namespace

std::string GraphRegistry::EntryName(const void* graph, long processId) {
  const auto low = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(graph));
  return FormatMessage("FilterGraph %08X pid %lX.dot", low, static_cast<unsigned long>(processId));
}

bool GraphRegistry::Enter(GstElement* pipeline) {
  Withdraw();
  if (!pipeline)
    return false;
  const std::string folderPath = Folder();
  if (!OwnFolder(folderPath))
    return false;
  const QString folder = QString::fromStdString(folderPath);
  RemoveDeadEntries(folder);
  pipeline_ = pipeline;
  path_ = (folder + "/").toStdString() + EntryName(pipeline, static_cast<long>(getpid()));
  if (!Write()) {
    pipeline_ = nullptr;
    path_.clear();
    return false;
  }
  return true;
}

void GraphRegistry::Refresh() noexcept {
  if (Entered())
    Write();
}

void GraphRegistry::Withdraw() noexcept {
  if (!Entered())
    return;
  QFile::remove(QString::fromStdString(path_));
  pipeline_ = nullptr;
  path_.clear();
}

bool GraphRegistry::Write() noexcept {
  try {
    GCharPtr dot(gst_debug_bin_to_dot_data(GST_BIN(pipeline_), GST_DEBUG_GRAPH_SHOW_ALL));
    if (!dot)
      return false;
    // Written whole and renamed into place: a viewer never reads half a graph.
    AtomicReplace file;
    return file.Begin(path_, {}) == 0 && file.Write(std::string_view(dot.get())) == 0 &&
           file.Commit() == 0;
  } catch (...) {
    return false;
  }
}

}  // namespace platform
