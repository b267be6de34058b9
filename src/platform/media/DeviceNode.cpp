#include "platform/media/DeviceNode.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "platform/media/DeviceMonitor.h"
#include "platform/media/Moniker.h"
#include "platform/media/Pipeline.h"

namespace platform {

namespace {

std::string V4l2NodeOf(GstDevice* device) {
  std::string pipewireNode = DeviceProperty(device, "api.v4l2.path");
  if (!pipewireNode.empty() || DeviceProperty(device, "device.api") != "v4l2")
    return pipewireNode;
  return DeviceProperty(device, "device.path");
}

// Whether a stream of the capture device at `node` belongs to another open descriptor: then
// the kernel refuses this one the buffer queue. Asking for no buffers changes nothing when
// nobody streams (the queue has no owner, and the request leaves it so).
bool StreamHeldElsewhere(const std::string& node) {
  const int fd = ::open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    return false;
  v4l2_capability caps{};
  bool held = false;
  if (::ioctl(fd, VIDIOC_QUERYCAP, &caps) == 0) {
    const unsigned kinds =
        (caps.capabilities & V4L2_CAP_DEVICE_CAPS) ? caps.device_caps : caps.capabilities;
    v4l2_requestbuffers none{};
    none.count = 0;
    none.memory = V4L2_MEMORY_MMAP;
    none.type = (kinds & V4L2_CAP_VIDEO_CAPTURE_MPLANE) ? V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE
                                                        : V4L2_BUF_TYPE_VIDEO_CAPTURE;
    held = (kinds & (V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_VIDEO_CAPTURE_MPLANE)) &&
           ::ioctl(fd, VIDIOC_REQBUFS, &none) != 0 && errno == EBUSY;
  }
  ::close(fd);
  return held;
}

}  // namespace

std::string SourceNodeInUse(GstElement* pipeline) {
  const GstRef<GstElement> source = SourceElement(pipeline);
  // v4l2src says itself that another program holds the device, as it sets the format; once it
  // has the stream, the queue it owns is its own, which this question cannot tell from another
  // program's (its first frame may take seconds: a 4K mode at 2 frames a second).
  GstElementFactory* factory = source ? gst_element_get_factory(source.get()) : nullptr;
  if (factory && std::string_view(GST_OBJECT_NAME(factory)) == "v4l2src")
    return {};
  GstDevice* device = source ? BoundDevice(source.get()) : nullptr;
  const std::string node = device ? V4l2NodeOf(device) : std::string();
  return !node.empty() && StreamHeldElsewhere(node) ? node : std::string();
}

}  // namespace platform
