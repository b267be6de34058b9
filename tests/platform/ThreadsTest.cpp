// The main-thread check and the one coalescing wake-up every door to the main thread uses.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTest>

#include <memory>
#include <thread>

#include "platform/runtime/Threads.h"

namespace {

bool IsMainThreadOn(bool anotherThread) {
  if (!anotherThread)
    return platform::IsMainThread();
  bool result = true;
  std::thread([&] { result = platform::IsMainThread(); }).join();
  return result;
}

TEST(ThreadsTest, OnlyTheApplicationsThreadIsTheMainThread) {
  EXPECT_TRUE(IsMainThreadOn(false));
  EXPECT_FALSE(IsMainThreadOn(true));
#if defined(STILLWICK_THREAD_CHECKS)
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(std::thread([] { platform::AssertMainThread(); }).join(),
               "called off the main thread");
#endif
}

TEST(ThreadsTest, ManyWakeupRequestsWakeOnceAndOneMadeWhileItRunsWakesAgain) {
  int runs = 0;
  std::unique_ptr<platform::CoalescingWakeup> wakeup;
  wakeup = std::make_unique<platform::CoalescingWakeup>([&] {
    if (++runs == 1)
      wakeup->Request();
  });
  std::thread streaming([&] {
    for (int i = 0; i < 100; ++i)
      wakeup->Request();
  });
  streaming.join();
  EXPECT_TRUE(QTest::qWaitFor([&] { return runs == 2; }, 5000));
  QCoreApplication::processEvents();
  EXPECT_EQ(runs, 2);

  // Destroyed with a wake-up queued: it is dropped with the object.
  wakeup->Request();
  wakeup.reset();
  QCoreApplication::processEvents();
  EXPECT_EQ(runs, 2);
}

}  // namespace
