// The developer's log: silent unless asked for, and rate-limited per source.
#include <gtest/gtest.h>

#include <QLoggingCategory>

#include <string>

#include "platform/runtime/Diagnostics.h"

namespace {

using platform::LogRateLimiter;
using namespace std::chrono_literals;

TEST(DiagnosticsTest, SilentUntilStillwickDebugTurnsItOn) {
  EXPECT_FALSE(platform::lcPlatform().isDebugEnabled());
  qputenv("STILLWICK_DEBUG", "1");
  platform::InitializeDiagnostics();
  EXPECT_TRUE(platform::lcPlatform().isDebugEnabled());
  qunsetenv("STILLWICK_DEBUG");
  QLoggingCategory::setFilterRules(QString());
}

TEST(DiagnosticsTest, EachSourceGetsItsLinesASecondAndHearsWhatWasDropped) {
  LogRateLimiter limiter;
  const auto t0 = LogRateLimiter::Clock::now();
  std::uint64_t dropped = 99;
  int admitted = 0;
  for (int i = 0; i < LogRateLimiter::kLinesPerSecond + 5; ++i)
    admitted += limiter.Admit("bus", t0 + 1ms * i, dropped);
  EXPECT_EQ(admitted, LogRateLimiter::kLinesPerSecond);
  EXPECT_EQ(dropped, 0u);
  // Another source is not held back by a noisy one.
  EXPECT_TRUE(limiter.Admit("grabber", t0 + 20ms, dropped));
  // A second later the source speaks again and hears how much was lost.
  EXPECT_TRUE(limiter.Admit("bus", t0 + 1s, dropped));
  EXPECT_EQ(dropped, 5u);
  EXPECT_TRUE(limiter.Admit("bus", t0 + 1s, dropped));
  EXPECT_EQ(dropped, 0u);
}

TEST(DiagnosticsTest, SourcesBeyondThoseTrackedShareOneAllowanceUntilOldOnesGoQuiet) {
  LogRateLimiter limiter;
  const auto t0 = LogRateLimiter::Clock::now();
  std::uint64_t dropped = 0;
  for (std::size_t i = 0; i < LogRateLimiter::kSourcesTracked; ++i)
    ASSERT_TRUE(limiter.Admit("element" + std::to_string(i), t0, dropped));
  int admitted = 0;
  for (int i = 0; i < LogRateLimiter::kLinesPerSecond + 1; ++i)
    admitted += limiter.Admit("new" + std::to_string(i), t0, dropped);
  EXPECT_EQ(admitted, LogRateLimiter::kLinesPerSecond);
  EXPECT_FALSE(limiter.Admit("another", t0 + 500ms, dropped));
  // Once the old sources are quiet, a new one has an allowance of its own again; the shared
  // one would have reported its two dropped lines.
  EXPECT_TRUE(limiter.Admit("later", t0 + 2s, dropped));
  EXPECT_EQ(dropped, 0u);
}

}  // namespace
