// How long a playing graph may go without a frame before its device counts as lost.
#include <gtest/gtest.h>

#include "capture/TFilterGraph.h"

namespace {

TEST(FrameSilenceTest, ThreeSecondsOrFiveFrameIntervalsWhicheverIsLonger) {
  const struct {
    int fpsN;
    int fpsD;
    long long allowedMs;
  } cases[] = {
      {30, 1, 3000}, {2, 1, 3000},   // a 2 fps microscope camera: 2.5 s of intervals
      {1, 1, 5000},  {1, 4, 20000},  // slower than a frame in 3 s
      {0, 1, 3000},  {30, 0, 3000},  // rate not known
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FrameSilenceAllowed(c.fpsN, c.fpsD).count(), c.allowedMs) << c.fpsN << "/" << c.fpsD;
  }
}

}  // namespace
