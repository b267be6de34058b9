// The V4L2 control interface: VIDIOC_QUERY_EXT_CTRL to list, VIDIOC_QUERYMENU for menu items,
// VIDIOC_G_EXT_CTRLS / VIDIOC_S_EXT_CTRLS for values, V4L2_EVENT_CTRL for changes the driver
// makes itself. The descriptor is non-blocking, so VIDIOC_DQEVENT answers ENOENT instead of
// waiting when nothing is queued.

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/media/DeviceControls.h"

namespace platform {

namespace {

std::string Reason(const std::string& what, int error) {
  return what + ": " + std::strerror(error);
}

class V4l2Controls final : public DeviceControls {
 public:
  V4l2Controls(int fd, V4l2Ioctl ioctl) : fd_(fd), ioctl_(std::move(ioctl)) {}
  ~V4l2Controls() override {
    if (fd_ >= 0)
      ::close(fd_);
  }
  V4l2Controls(const V4l2Controls&) = delete;
  V4l2Controls& operator=(const V4l2Controls&) = delete;

  std::vector<ControlInfo> List(ControlResult& result) override;
  ControlResult Set(const ControlInfo& control, std::int64_t value, std::int64_t& actual) override;
  int EventDescriptor() const override { return subscribed_ ? fd_ : -1; }
  std::vector<ControlChange> TakeChanges() override;

 private:
  // -1 with errno kept, as ioctl(2).
  int Call(unsigned long request, void* arg) {
    int answer;
    do {
      answer = ioctl_(fd_, request, arg);
    } while (answer < 0 && errno == EINTR);
    return answer;
  }
  ControlResult Failed(const std::string& what) {
    const int error = errno;
    return {Reason(what, error), error == ENODEV};
  }
  bool Read(std::uint32_t id, bool wide, std::int64_t& value);
  void ReadMenu(ControlInfo& control);

  int fd_;
  V4l2Ioctl ioctl_;
  bool subscribed_ = false;
  std::vector<std::uint32_t> wide_;  // controls whose values are 64 bits
};

bool Shown(const v4l2_query_ext_ctrl& query, ControlKind& kind) {
  if (query.flags & (V4L2_CTRL_FLAG_DISABLED | V4L2_CTRL_FLAG_HAS_PAYLOAD))
    return false;
  switch (query.type) {
    case V4L2_CTRL_TYPE_INTEGER:
    case V4L2_CTRL_TYPE_INTEGER64:
      kind = ControlKind::Integer;
      return true;
    case V4L2_CTRL_TYPE_BOOLEAN:
      kind = ControlKind::Boolean;
      return true;
    case V4L2_CTRL_TYPE_MENU:
      kind = ControlKind::Menu;
      return true;
    case V4L2_CTRL_TYPE_INTEGER_MENU:
      kind = ControlKind::IntegerMenu;
      return true;
    case V4L2_CTRL_TYPE_BUTTON:
      kind = ControlKind::Button;
      return true;
    default:  // class headings, strings, bit masks, compound values
      return false;
  }
}

bool V4l2Controls::Read(std::uint32_t id, bool wide, std::int64_t& value) {
  v4l2_ext_control one{};
  one.id = id;
  v4l2_ext_controls set{};
  set.which = V4L2_CTRL_WHICH_CUR_VAL;
  set.count = 1;
  set.controls = &one;
  if (Call(VIDIOC_G_EXT_CTRLS, &set) < 0)
    return false;
  value = wide ? one.value64 : one.value;
  return true;
}

void V4l2Controls::ReadMenu(ControlInfo& control) {
  for (std::int64_t index = control.minimum; index <= control.maximum && index >= 0; ++index) {
    v4l2_querymenu item{};
    item.id = control.id;
    item.index = static_cast<std::uint32_t>(index);
    // A driver may leave indexes out (EINVAL); they are no items.
    if (Call(VIDIOC_QUERYMENU, &item) < 0)
      continue;
    if (control.kind == ControlKind::IntegerMenu) {
      control.menu.push_back({index, std::to_string(item.value)});
    } else {
      const char* name = reinterpret_cast<const char*>(item.name);
      control.menu.push_back({index, std::string(name, strnlen(name, sizeof item.name))});
    }
  }
}

std::vector<ControlInfo> V4l2Controls::List(ControlResult& result) {
  std::vector<ControlInfo> controls;
  result = {};
  wide_.clear();
  v4l2_query_ext_ctrl query{};
  query.id = V4L2_CTRL_FLAG_NEXT_CTRL;
  while (Call(VIDIOC_QUERY_EXT_CTRL, &query) == 0) {
    ControlInfo control;
    if (Shown(query, control.kind)) {
      control.id = query.id;
      control.name.assign(query.name, strnlen(query.name, sizeof query.name));
      control.minimum = query.minimum;
      control.maximum = query.maximum;
      control.step = query.step > 0 ? static_cast<std::int64_t>(query.step) : 1;
      control.defaultValue = query.default_value;
      control.readOnly = query.flags & V4L2_CTRL_FLAG_READ_ONLY;
      control.volatileValue = query.flags & V4L2_CTRL_FLAG_VOLATILE;
      // Grabbed: held while streaming, as inactive as a control under an automatic one.
      control.inactive = query.flags & (V4L2_CTRL_FLAG_INACTIVE | V4L2_CTRL_FLAG_GRABBED);
      const bool wide = query.type == V4L2_CTRL_TYPE_INTEGER64;
      if (wide)
        wide_.push_back(query.id);
      if (control.kind == ControlKind::Menu || control.kind == ControlKind::IntegerMenu)
        ReadMenu(control);
      const bool readable =
          control.kind != ControlKind::Button && !(query.flags & V4L2_CTRL_FLAG_WRITE_ONLY);
      if (readable && !Read(control.id, wide, control.value)) {
        if (errno == ENODEV) {
          result = Failed(control.name);
          return {};
        }
        control.value = control.defaultValue;
      }
      controls.push_back(std::move(control));
    }
    query.id |= V4L2_CTRL_FLAG_NEXT_CTRL;
  }
  // EINVAL ends the list; anything else cut it short.
  if (errno != EINVAL && errno != ENOTTY)
    result = Failed("VIDIOC_QUERY_EXT_CTRL");

  subscribed_ = !controls.empty();
  for (const ControlInfo& control : controls) {
    v4l2_event_subscription subscription{};
    subscription.type = V4L2_EVENT_CTRL;
    subscription.id = control.id;
    // The driver's own follow-ups to our changes (an automatic control greying its manual
    // one) come as events on the descriptor that made the change too.
    subscription.flags = V4L2_EVENT_SUB_FL_ALLOW_FEEDBACK;
    if (Call(VIDIOC_SUBSCRIBE_EVENT, &subscription) < 0)
      subscribed_ = false;
  }
  return controls;
}

ControlResult V4l2Controls::Set(const ControlInfo& control, std::int64_t value,
                                std::int64_t& actual) {
  const bool wide = std::find(wide_.begin(), wide_.end(), control.id) != wide_.end();
  v4l2_ext_control one{};
  one.id = control.id;
  if (wide)
    one.value64 = value;
  else
    one.value = static_cast<std::int32_t>(value);
  v4l2_ext_controls set{};
  set.which = V4L2_CTRL_WHICH_CUR_VAL;
  set.count = 1;
  set.controls = &one;
  ControlResult result;
  if (Call(VIDIOC_S_EXT_CTRLS, &set) < 0)
    result = Failed(control.name);
  // What the driver holds now, whatever became of the request (a button holds nothing).
  actual = result ? value : control.value;
  if (control.kind != ControlKind::Button && !result.deviceGone) {
    std::int64_t held = actual;
    const int error = errno;
    if (Read(control.id, wide, held))
      actual = held;
    errno = error;
  }
  return result;
}

std::vector<ControlChange> V4l2Controls::TakeChanges() {
  std::vector<ControlChange> changes;
  // Bounded: a driver that kept queueing could otherwise hold the main thread here.
  for (int i = 0; i < 256; ++i) {
    v4l2_event event{};
    if (Call(VIDIOC_DQEVENT, &event) < 0)
      break;
    if (event.type != V4L2_EVENT_CTRL)
      continue;
    ControlChange change;
    change.id = event.id;
    change.valueChanged = event.u.ctrl.changes & V4L2_EVENT_CTRL_CH_VALUE;
    const bool wide = std::find(wide_.begin(), wide_.end(), event.id) != wide_.end();
    change.value = wide ? event.u.ctrl.value64 : event.u.ctrl.value;
    change.flagsChanged = event.u.ctrl.changes & V4L2_EVENT_CTRL_CH_FLAGS;
    change.inactive = event.u.ctrl.flags & (V4L2_CTRL_FLAG_INACTIVE | V4L2_CTRL_FLAG_GRABBED);
    change.readOnly = event.u.ctrl.flags & V4L2_CTRL_FLAG_READ_ONLY;
    changes.push_back(change);
  }
  return changes;
}

}  // namespace

std::unique_ptr<DeviceControls> V4l2ControlsOver(int fd, V4l2Ioctl ioctl) {
  return std::make_unique<V4l2Controls>(fd, std::move(ioctl));
}

std::unique_ptr<DeviceControls> OpenV4l2Controls(const std::string& path, std::string& failure) {
  // Non-blocking: neither the open nor a later VIDIOC_DQEVENT may wait on the device.
  const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    failure = Reason(path, errno);
    return nullptr;
  }
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISCHR(status.st_mode)) {
    ::close(fd);
    failure = Reason(path, ENOTTY);
    return nullptr;
  }
  return V4l2ControlsOver(fd, [](int descriptor, unsigned long request, void* arg) {
    return ::ioctl(descriptor, request, arg);
  });
}

}  // namespace platform
