#pragma once
// Diagnostics for developers. Each layer logs to its own Qt category: "stillwick.platform"
// (here), "stillwick.capture" and "stillwick.ui". All are silent unless STILLWICK_DEBUG=1 or
// QT_LOGGING_RULES (e.g. "stillwick.*.debug=true") turns them on. They receive what the user
// is not shown: the debug text GStreamer gives with every error (the user reads its short
// text, once, in the error box) and every exception swallowed on a streaming thread. Lines are
// rate-limited per source, so a failing stream cannot flood the terminal.

#include <QLoggingCategory>
#include <QString>

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

namespace platform {

Q_DECLARE_LOGGING_CATEGORY(lcPlatform)

// Main thread, at start-up: STILLWICK_DEBUG=1 turns on the debug lines of every stillwick
// category. QT_LOGGING_RULES, when set, still has the last word.
void InitializeDiagnostics();

// At most kLinesPerSecond lines a second for each source; what is held back is counted and
// reported with the source's next line.
class LogRateLimiter {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr int kLinesPerSecond = 10;
  // Sources beyond this many, while every tracked one is busy, share one allowance.
  static constexpr std::size_t kSourcesTracked = 64;

  // Whether a line of `source` may be written at `now`. When it may, `dropped` is set to the
  // number of that source's lines held back since its last line written.
  bool Admit(std::string_view source, Clock::time_point now, std::uint64_t& dropped);

 private:
  struct Window {
    Clock::time_point start;
    int written = 0;
    std::uint64_t dropped = 0;
  };

  // Guards windows_. Taken by any thread that logs, and never held while taking another lock.
  std::mutex lock_;
  std::map<std::string, Window, std::less<>> windows_;
};

// Writes "[source] text" as a debug line of `category` through the process's one limiter.
// Any thread; costs one check while the category is off; never throws.
void LogLimited(const QLoggingCategory& category, std::string_view source,
                const QString& text) noexcept;

}  // namespace platform
