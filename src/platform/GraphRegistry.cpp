#include "platform/GraphRegistry.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>

#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include <cstdint>
#include <cstdlib>

#include "platform/Error.h"
#include "platform/GstRef.h"

namespace platform {

std::string GraphRegistry::Folder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const QString base = runtime && *runtime ? QString::fromLocal8Bit(runtime) : QDir::tempPath();
  return (base + "/stillwick").toStdString();
}

namespace {

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
  const QString folder = QString::fromStdString(Folder());
  // Other users must not read what runs here when the folder falls back to /tmp.
  if (!QDir().mkpath(folder))
    return false;
  QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
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
    QSaveFile file(QString::fromStdString(path_));
    if (!file.open(QIODevice::WriteOnly))
      return false;
    file.write(dot.get());
    return file.commit();
  } catch (...) {
    return false;
  }
}

}  // namespace platform
