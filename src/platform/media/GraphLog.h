#pragma once
// The graph's log file: while open, the pipeline's warnings, errors and state changes are
// written to it as text lines, one per message, as they reach the main thread. Main thread only.

#include <gst/gst.h>

#include <cstdio>
#include <memory>
#include <string>

namespace platform {

class GraphLog {
 public:
  // Creates the file, emptying one that exists. False when it cannot be created; the log is
  // then closed.
  bool Open(const std::string& fileName);
  void Close() noexcept;
  bool IsOpen() const noexcept { return file_ != nullptr; }

  // Writes the message's line when it is a warning, an error or a state change of `pipeline`.
  void Record(GstMessage* message, GstElement* pipeline) noexcept;
  // Writes one line of the graph's own (e.g. "log opened").
  void Note(const std::string& text) noexcept;

 private:
  struct FileCloser {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
  };
  void WriteLine(const std::string& text) noexcept;

  std::unique_ptr<std::FILE, FileCloser> file_;
};

}  // namespace platform
