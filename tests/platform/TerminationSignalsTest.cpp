#include "platform/runtime/TerminationSignals.h"

#include <gtest/gtest.h>

#include <vector>

#include "HarnessEventLoop.h"

using platform::TerminationSignals;

namespace {

std::vector<int> Deliveries(int signal, void (*startWith)(int)) {
  struct sigaction start {
  }, former{};
  start.sa_handler = startWith;
  sigemptyset(&start.sa_mask);
  sigaction(signal, &start, &former);
  std::vector<int> delivered;
  {
    TerminationSignals signals([&](int number) { delivered.push_back(number); });
    raise(signal);
    // An ignored signal never comes: nothing is there to wait for but a short while.
    harness::WaitFor([&] { return !delivered.empty(); }, startWith == SIG_IGN ? 100 : 5000);
    // After the first, the signal acts as it did before.
    struct sigaction now {};
    sigaction(signal, nullptr, &now);
    EXPECT_EQ(now.sa_handler, startWith) << signal;
  }
  sigaction(signal, &former, nullptr);
  return delivered;
}

TEST(TerminationSignalsTest, EachReachesTheMainThreadOnceUnlessIgnoredAtStart) {
  for (const int signal : TerminationSignals::kSignals) {
    EXPECT_EQ(Deliveries(signal, SIG_DFL), std::vector<int>{signal});
    // nohup and background jobs ignore them; so do we then.
    EXPECT_TRUE(Deliveries(signal, SIG_IGN).empty()) << signal;
  }
}

}  // namespace
