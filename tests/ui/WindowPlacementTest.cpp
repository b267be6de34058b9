#include "app/WindowPlacement.h"

#include <gtest/gtest.h>

namespace {

TEST(WindowPlacementTest, CentredButNeverBeyondTheTopOrLeftEdge) {
  const struct {
    QSize frame;
    QRect available;
    QPoint expected;
  } cases[] = {
      {{791, 422}, {0, 0, 1280, 1024}, {244, 301}},
      {{1582, 844}, {0, 0, 1280, 800}, {0, 0}},      // scale 2 on a small screen
      {{1582, 844}, {0, 32, 1280, 1024}, {0, 122}},  // a panel above: wider than the screen only
      {{791, 422}, {1280, 0, 1920, 1080}, {1844, 329}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CentredPosition(c.frame, c.available), c.expected) << c.frame.width();
  }
}

}  // namespace
