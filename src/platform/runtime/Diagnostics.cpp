#include "platform/runtime/Diagnostics.h"

#include <QByteArray>

namespace platform {

// Debug lines off by default: only the rules turn them on.
Q_LOGGING_CATEGORY(lcPlatform, "stillwick.platform", QtInfoMsg)

void InitializeDiagnostics() {
  if (qEnvironmentVariable("STILLWICK_DEBUG") == QLatin1String("1"))
    QLoggingCategory::setFilterRules(QStringLiteral("stillwick.*.debug=true"));
}

bool LogRateLimiter::Admit(std::string_view source, Clock::time_point now, std::uint64_t& dropped) {
  constexpr std::string_view kShared = "(other sources)";
  const auto expired = [now](const Window& w) { return now - w.start >= std::chrono::seconds(1); };
  std::lock_guard guard(lock_);
  auto it = windows_.find(source);
  if (it == windows_.end()) {
    if (windows_.size() >= kSourcesTracked) {
      // Forget quiet sources; one whose drops are still unreported keeps its count.
      std::erase_if(windows_, [&](const auto& entry) {
        return expired(entry.second) && entry.second.dropped == 0;
      });
    }
    if (windows_.size() >= kSourcesTracked)
      source = kShared;
    it = windows_.try_emplace(std::string(source), Window{now}).first;
  }
  Window& w = it->second;
  if (expired(w)) {
    w.start = now;
    w.written = 0;
  }
  if (w.written >= kLinesPerSecond) {
    ++w.dropped;
    return false;
  }
  ++w.written;
  dropped = w.dropped;
  w.dropped = 0;
  return true;
}

void LogLimited(const QLoggingCategory& category, std::string_view source,
                const QString& text) noexcept {
  if (!category.isDebugEnabled())
    return;
  try {
    static LogRateLimiter limiter;
    std::uint64_t dropped = 0;
    if (!limiter.Admit(source, LogRateLimiter::Clock::now(), dropped))
      return;
    QString line = QStringLiteral("[%1] %2").arg(
        QString::fromUtf8(source.data(), static_cast<qsizetype>(source.size())), text);
    if (dropped > 0)
      line += QStringLiteral(" (%1 earlier lines of this source dropped)").arg(dropped);
    QMessageLogger().debug(category).noquote() << line;
  } catch (...) {
    // A diagnostic that cannot be written is not worth more than the line itself.
  }
}

}  // namespace platform
