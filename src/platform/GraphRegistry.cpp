#include "platform/GraphRegistry.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <unistd.h>

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
