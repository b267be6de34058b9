#pragma once
// The graph registry, where inspection tools find running graphs: while a graph is entered, the
// file "FilterGraph <graph as 8 hex digits> pid <process id in hex>.dot" in the registry folder
// holds the pipeline as Graphviz text. Main thread only.

#include <gst/gst.h>

#include <string>

namespace platform {

class GraphRegistry {
 public:
  GraphRegistry() = default;
  ~GraphRegistry() { Withdraw(); }
  GraphRegistry(const GraphRegistry&) = delete;
  GraphRegistry& operator=(const GraphRegistry&) = delete;

  // $XDG_RUNTIME_DIR/stillwick when that variable is set, else <temp folder>/stillwick-<uid>,
  // this user's own (0700).
  static std::string Folder();
  // "FilterGraph %08X pid %X.dot" of the graph's address (its low 32 bits) and the process id.
  static std::string EntryName(const void* graph, long processId);

  // Enters `pipeline` (withdrawing any former entry). False when the folder or file cannot be
  // made, or the folder is a link, not a folder or another user's; the graph is then not
  // entered, and nothing is shown: inspection is a developer's aid.
  bool Enter(GstElement* pipeline);
  // Rewrites the entry with the pipeline as it is now; nothing when not entered.
  void Refresh() noexcept;
  void Withdraw() noexcept;

  bool Entered() const noexcept { return pipeline_ != nullptr; }
  const std::string& Path() const noexcept { return path_; }

 private:
  bool Write() noexcept;

  GstElement* pipeline_ = nullptr;  // borrowed: the owner withdraws before releasing it
  std::string path_;
};

}  // namespace platform
