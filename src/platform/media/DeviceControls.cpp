#include "platform/media/DeviceControls.h"

#include <gst/gst.h>

#include <algorithm>
#include <cstdlib>

#include "platform/media/GstRef.h"
#include "platform/media/Moniker.h"

namespace platform {

namespace {

bool AsciiAlnum(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// The controls of an element: its readable properties marked controllable, of the kinds a
// control can be. The element stands for the device; the test camera's elements of one camera
// share their values as the descriptors of one node do.
class ElementControls final : public DeviceControls {
 public:
  explicit ElementControls(GstRef<GstElement> element) : element_(std::move(element)) {}

  std::vector<ControlInfo> List(ControlResult& result) override {
    result = {};
    std::vector<ControlInfo> controls;
    for (std::uint32_t id = 1; id <= specs_.size(); ++id) {
      ControlInfo control;
      if (Describe(specs_[id - 1], control)) {
        control.id = id;
        control.value = Get(specs_[id - 1]);
        controls.push_back(std::move(control));
      }
    }
    return controls;
  }

  ControlResult Set(const ControlInfo& control, std::int64_t value, std::int64_t& actual) override {
    if (control.id == 0 || control.id > specs_.size())
      return {control.name + ": no such control", false};
    GParamSpec* spec = specs_[control.id - 1];
    GValue v = G_VALUE_INIT;
    g_value_init(&v, spec->value_type);
    if (G_IS_PARAM_SPEC_INT(spec))
      g_value_set_int(&v, static_cast<gint>(value));
    else if (G_IS_PARAM_SPEC_BOOLEAN(spec))
      g_value_set_boolean(&v, value != 0);
    else if (G_IS_PARAM_SPEC_ENUM(spec))
      g_value_set_enum(&v, static_cast<gint>(value));
    g_object_set_property(G_OBJECT(element_.get()), spec->name, &v);
    g_value_unset(&v);
    actual = Get(spec);
    if (actual != value)
      return {control.name + ": the device kept " + std::to_string(actual), false};
    return {};
  }

  void Load() {
    guint count = 0;
    std::unique_ptr<GParamSpec*, GFreeDeleter> specs(
        g_object_class_list_properties(G_OBJECT_GET_CLASS(element_.get()), &count));
    for (guint i = 0; i < count; ++i) {
      GParamSpec* spec = specs.get()[i];
      ControlInfo probe;
      if ((spec->flags & GST_PARAM_CONTROLLABLE) && Describe(spec, probe))
        specs_.push_back(spec);  // the class keeps its specs for as long as the element lives
    }
  }
  bool Empty() const { return specs_.empty(); }

 private:
  static bool Describe(GParamSpec* spec, ControlInfo& control) {
    if (!(spec->flags & G_PARAM_READABLE))
      return false;
    control.name = g_param_spec_get_nick(spec);
    control.readOnly = !(spec->flags & G_PARAM_WRITABLE);
    if (G_IS_PARAM_SPEC_INT(spec)) {
      const GParamSpecInt* ints = G_PARAM_SPEC_INT(spec);
      control.kind = ControlKind::Integer;
      control.minimum = ints->minimum;
      control.maximum = ints->maximum;
      control.defaultValue = ints->default_value;
      return true;
    }
    if (G_IS_PARAM_SPEC_BOOLEAN(spec)) {
      control.kind = ControlKind::Boolean;
      control.maximum = 1;
      control.defaultValue = G_PARAM_SPEC_BOOLEAN(spec)->default_value;
      return true;
    }
    if (G_IS_PARAM_SPEC_ENUM(spec)) {
      const GParamSpecEnum* enums = G_PARAM_SPEC_ENUM(spec);
      control.kind = ControlKind::Menu;
      control.defaultValue = enums->default_value;
      for (guint i = 0; i < enums->enum_class->n_values; ++i) {
        const GEnumValue& item = enums->enum_class->values[i];
        control.menu.push_back({item.value, item.value_name});
      }
      control.minimum = enums->enum_class->minimum;
      control.maximum = enums->enum_class->maximum;
      return true;
    }
    return false;
  }

  std::int64_t Get(GParamSpec* spec) const {
    GValue v = G_VALUE_INIT;
    g_value_init(&v, spec->value_type);
    g_object_get_property(G_OBJECT(element_.get()), spec->name, &v);
    std::int64_t value = 0;
    if (G_VALUE_HOLDS_INT(&v))
      value = g_value_get_int(&v);
    else if (G_VALUE_HOLDS_BOOLEAN(&v))
      value = g_value_get_boolean(&v) ? 1 : 0;
    else if (G_VALUE_HOLDS_ENUM(&v))
      value = g_value_get_enum(&v);
    g_value_unset(&v);
    return value;
  }

  GstRef<GstElement> element_;
  std::vector<GParamSpec*> specs_;
};

}  // namespace

std::string ControlKey(std::string_view name) {
  std::string key;
  bool gap = false;
  for (const char c : name) {
    if (!AsciiAlnum(c)) {
      gap = !key.empty();
      continue;
    }
    if (gap)
      key += '_';
    gap = false;
    key += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  }
  return key;
}

std::int64_t ClampToControl(const ControlInfo& control, std::int64_t value) {
  // Differences in unsigned arithmetic: a stored value may be any 64-bit number, and so may a
  // 64-bit control's range, so a signed difference could overflow.
  auto distance = [](std::int64_t a, std::int64_t b) {
    return a > b ? static_cast<std::uint64_t>(a) - static_cast<std::uint64_t>(b)
                 : static_cast<std::uint64_t>(b) - static_cast<std::uint64_t>(a);
  };
  if (control.kind == ControlKind::Menu || control.kind == ControlKind::IntegerMenu) {
    if (control.menu.empty())
      return control.defaultValue;
    return std::min_element(control.menu.begin(), control.menu.end(),
                            [&](const ControlMenuItem& a, const ControlMenuItem& b) {
                              return distance(a.value, value) < distance(b.value, value);
                            })
        ->value;
  }
  if (control.maximum < control.minimum)
    return control.defaultValue;
  const std::int64_t clamped = std::clamp(value, control.minimum, control.maximum);
  const std::uint64_t step = static_cast<std::uint64_t>(std::max<std::int64_t>(control.step, 1));
  // Steps count from the minimum; half a step or more rounds up, within the range.
  const std::uint64_t above = distance(clamped, control.minimum);
  std::uint64_t steps = above / step;
  if (above % step >= step - step / 2 && steps < distance(control.maximum, control.minimum) / step)
    ++steps;
  return static_cast<std::int64_t>(static_cast<std::uint64_t>(control.minimum) + steps * step);
}

std::unique_ptr<DeviceControls> OpenDeviceControls(const Moniker& moniker, std::string& failure) {
  failure.clear();
  // A camera another provider lists names its node; a V4L2 device is its node.
  std::string node = moniker.Hint("api.v4l2.path");
  if (node.empty() && moniker.Hint("device.api") == "v4l2")
    node = moniker.Hint("device.path");
  if (!node.empty())
    return OpenV4l2Controls(node, failure);

  GstRef<GstElement> element = moniker.BindToObject();
  if (!element)
    return nullptr;
  auto controls = std::make_unique<ElementControls>(std::move(element));
  controls->Load();
  if (controls->Empty())
    return nullptr;
  return controls;
}

}  // namespace platform
