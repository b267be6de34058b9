// The one sentence the user reads for each way a stream stops.
#include <gtest/gtest.h>

#include "capture/GraphFailureText.h"

namespace {

using platform::StreamFailure;

TEST(GraphFailureTextTest, EachReasonHasItsSentence) {
  const struct {
    StreamFailure failure;
    const char* text;
  } cases[] = {
      {StreamFailure::None, ""},
      {StreamFailure::DeviceBusy,
       "The video device could not be opened, it is in use by another program: why"},
      {StreamFailure::DeviceNotFound,
       "The video device could not be opened, it was not found: why"},
      {StreamFailure::DeviceUnopenable, "The video device could not be opened: why"},
      {StreamFailure::DeviceLost, "Capture stopped, the video device was lost: why"},
      {StreamFailure::StreamEnded, "Capture stopped, the video device was lost: end of stream"},
      {StreamFailure::NoFrames, "Capture stopped, the video device was lost: no frames came"},
      {StreamFailure::Other, "Capture stopped: why"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(GraphFailureText(c.failure, "why"), c.text);
}

}  // namespace
