#include "capture/GraphFailureText.h"

#include "platform/runtime/Error.h"

using platform::StreamFailure;

std::string GraphFailureText(StreamFailure failure, const std::string& why) {
  const char* const text = why.c_str();
  switch (failure) {
    case StreamFailure::None:
      return {};
    case StreamFailure::DeviceBusy:
      return FormatMessage(
          "The video device could not be opened, it is in use by another program: %s", text);
    case StreamFailure::DeviceNotFound:
      return FormatMessage("The video device could not be opened, it was not found: %s", text);
    case StreamFailure::DeviceUnopenable:
      return FormatMessage("The video device could not be opened: %s", text);
    case StreamFailure::DeviceLost:
      return FormatMessage("Capture stopped, the video device was lost: %s", text);
    case StreamFailure::StreamEnded:
      return FormatMessage("Capture stopped, the video device was lost: %s", "end of stream");
    case StreamFailure::NoFrames:
      return FormatMessage("Capture stopped, the video device was lost: %s", "no frames came");
    case StreamFailure::Other:
      return FormatMessage("Capture stopped: %s", text);
  }
  return {};
}
