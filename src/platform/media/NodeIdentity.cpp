#include "platform/media/NodeIdentity.h"

#include <libudev.h>
#include <sys/stat.h>

#include <memory>

namespace platform {

namespace {

struct UdevUnref {
  void operator()(udev* u) const noexcept { udev_unref(u); }
  void operator()(udev_device* d) const noexcept { udev_device_unref(d); }
};

std::string Text(const char* value) {
  return value ? value : "";
}

}  // namespace

NodeIdentity UdevIdentity(const std::string& node) {
  struct stat status {};
  if (node.empty() || ::stat(node.c_str(), &status) != 0 || !S_ISCHR(status.st_mode))
    return {};
  const std::unique_ptr<udev, UdevUnref> context(udev_new());
  if (!context)
    return {};
  const std::unique_ptr<udev_device, UdevUnref> device(
      udev_device_new_from_devnum(context.get(), 'c', status.st_rdev));
  if (!device)
    return {};
  NodeIdentity identity{Text(udev_device_get_property_value(device.get(), "ID_SERIAL")),
                        Text(udev_device_get_property_value(device.get(), "ID_PATH"))};
  // Only a node udev identified has an identity; the sysfs place of any other means nothing.
  if (identity.busPath.empty() && udev_device_get_property_value(device.get(), "ID_V4L_VERSION"))
    identity.busPath = Text(udev_device_get_syspath(device.get()));
  return identity;
}

}  // namespace platform
