#pragma once
// A capture device's own controls (brightness, exposure, white balance, focus...) as its driver
// reports them, read and set while the device may be streaming elsewhere. Three kinds of device
// fit behind one interface:
// - V4L2 nodes, through the kernel's control ioctls on a descriptor of their own (a node may be
//   opened twice while v4l2src streams), for v4l2src devices (`device.path`) and cameras that
//   another provider lists but whose node it names (`api.v4l2.path`);
// - elements whose properties are marked controllable (GST_PARAM_CONTROLLABLE), such as the
//   test camera: a property's nick is the control's name;
// - everything else: no controls.
// Every call answers soon: a failing device (busy, gone, refusing a value, not answering: a
// node's calls run on a thread of their own and are waited for a second or so) is a reason in
// the result, never an exception, a crash or a hang. Main thread only.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class Moniker;

enum class ControlKind { Integer, Boolean, Menu, IntegerMenu, Button };

struct ControlMenuItem {
  std::int64_t value;
  std::string label;
};

struct ControlInfo {
  std::uint32_t id = 0;
  std::string name;  // as the driver names it, e.g. "Exposure Time, Absolute"
  ControlKind kind = ControlKind::Integer;
  std::int64_t minimum = 0;
  std::int64_t maximum = 0;
  std::int64_t step = 1;
  std::int64_t defaultValue = 0;
  std::vector<ControlMenuItem> menu;  // the items a menu offers, holes left out
  bool readOnly = false;
  bool volatileValue = false;  // the device changes it on its own (e.g. the gain under autogain)
  bool inactive = false;       // ignored by the device now (e.g. exposure under auto exposure)
  std::int64_t value = 0;      // when the control was listed

  // Values worth keeping for the next start: what a user sets, not what the device measures.
  bool Storable() const { return !readOnly && !volatileValue && kind != ControlKind::Button; }
};

// What the driver reports on its own about a control: a new value, or new flags.
struct ControlChange {
  std::uint32_t id = 0;
  bool valueChanged = false;
  std::int64_t value = 0;
  bool flagsChanged = false;
  bool inactive = false;
  bool readOnly = false;
};

struct ControlResult {
  std::string failure;      // empty on success, else why, e.g. "Brightness: Device busy"
  bool deviceGone = false;  // the device went away (ENODEV): nothing further will work
  explicit operator bool() const noexcept { return failure.empty(); }
};

class DeviceControls {
 public:
  virtual ~DeviceControls() = default;
  // The controls in the driver's order, with their values now. Controls the interface cannot
  // show (strings, compound values, class headings) are left out.
  virtual std::vector<ControlInfo> List(ControlResult& result) = 0;
  // Sets a control; `actual` is then the value the device holds, also after a failure.
  virtual ControlResult Set(const ControlInfo& control, std::int64_t value,
                            std::int64_t& actual) = 0;
  // A descriptor that polls ready for priority data (POLLPRI) while TakeChanges has news;
  // -1 when the device tells no changes.
  virtual int EventDescriptor() const { return -1; }
  // The changes reported since the last call, without waiting.
  virtual std::vector<ControlChange> TakeChanges() { return {}; }
};

// The settings-file key of a control named `name`, spelt as v4l2-ctl spells it: ASCII letters
// and digits in lower case, each run of other characters between them one "_"
// ("Exposure Time, Absolute" -> "exposure_time_absolute").
std::string ControlKey(std::string_view name);

// `value` brought into the control's range: clamped, rounded to its step, a menu value that
// is no item taken to the nearest item.
std::int64_t ClampToControl(const ControlInfo& control, std::int64_t value);

// The controls of the device `moniker` names, or none. Fails only for a device whose controls
// exist but cannot be reached (a node that cannot be opened): then null, with the reason.
std::unique_ptr<DeviceControls> OpenDeviceControls(const Moniker& moniker, std::string& failure);

// The V4L2 control interface over `fd`, which it owns (-1: none), calling `ioctl` (which
// returns -1 and sets errno on failure). Opening a node uses the system's ioctl; tests give
// their own driver.
using V4l2Ioctl = std::function<int(int fd, unsigned long request, void* arg)>;
std::unique_ptr<DeviceControls> V4l2ControlsOver(int fd, V4l2Ioctl ioctl);
// The node at `path` opened for its controls (non-blocking, close-on-exec); null with the
// reason when it cannot be opened or is no V4L2 device.
std::unique_ptr<DeviceControls> OpenV4l2Controls(const std::string& path, std::string& failure);

}  // namespace platform
