#include "platform/media/Moniker.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string_view>

#include "platform/media/DeviceMonitor.h"
#include "platform/media/NodeIdentity.h"

namespace platform {

namespace {

constexpr char kStructureName[] = "device-moniker";
constexpr char kCategory[] = "category";
constexpr char kFactory[] = "factory";
constexpr char kDisplayName[] = "display-name";
constexpr char kPropertyPrefix[] = "property.";
constexpr char kApi[] = "device.api";
constexpr char kSerial[] = "device.serial";
constexpr char kBusPath[] = "device.bus_path";
constexpr char kPath[] = "device.path";
// A PipeWire node's own name (WirePlumber derives it from the device's bus, so it tells two
// cameras of one model apart and outlives the session), and the V4L2 node and card name of a
// camera that PipeWire lists.
constexpr char kNodeName[] = "node.name";
constexpr char kV4l2Path[] = "api.v4l2.path";
constexpr char kCard[] = "api.v4l2.cap.card";

GQuark BoundDeviceQuark() {
  static const GQuark quark = g_quark_from_static_string("stillwick-bound-device");
  return quark;
}

// Properties an element gets per instance or from its bin, not from the device.
bool IsInstanceProperty(const char* name) {
  return std::strcmp(name, "name") == 0 || std::strcmp(name, "parent") == 0;
}

bool IsSettable(const GParamSpec* spec) {
  return (spec->flags & G_PARAM_READWRITE) == G_PARAM_READWRITE &&
         !(spec->flags & G_PARAM_CONSTRUCT_ONLY);
}

void StoreSettings(GstStructure* s, GstElement* element) {
  guint count = 0;
  std::unique_ptr<GParamSpec*, GFreeDeleter> specs(
      g_object_class_list_properties(G_OBJECT_GET_CLASS(element), &count));
  for (guint i = 0; i < count; ++i) {
    GParamSpec* spec = specs.get()[i];
    if (!IsSettable(spec) || IsInstanceProperty(spec->name))
      continue;
    // Objects and raw pointers name live things of this process; they do not persist.
    if (G_TYPE_IS_OBJECT(spec->value_type) || spec->value_type == G_TYPE_POINTER)
      continue;
    GValue value = G_VALUE_INIT;
    g_value_init(&value, spec->value_type);
    g_object_get_property(G_OBJECT(element), spec->name, &value);
    if (!g_param_value_defaults(spec, &value)) {
      GCharPtr text(gst_value_serialize(&value));
      if (text) {
        const std::string field = std::string(kPropertyPrefix) + spec->name;
        gst_structure_set(s, field.c_str(), G_TYPE_STRING, text.get(), nullptr);
      }
    }
    g_value_unset(&value);
  }
}

void ApplySettings(const GstStructure* s, GstElement* element) {
  const std::string_view prefix = kPropertyPrefix;
  const gint fields = gst_structure_n_fields(s);
  for (gint i = 0; i < fields; ++i) {
    const std::string_view field = gst_structure_nth_field_name(s, static_cast<guint>(i));
    if (field.substr(0, prefix.size()) != prefix)
      continue;
    const std::string property(field.substr(prefix.size()));
    const gchar* text = gst_structure_get_string(s, std::string(field).c_str());
    GParamSpec* spec = g_object_class_find_property(G_OBJECT_GET_CLASS(element), property.c_str());
    if (!text || !spec || !IsSettable(spec))
      continue;
    GValue value = G_VALUE_INIT;
    g_value_init(&value, spec->value_type);
    if (gst_value_deserialize_with_pspec(&value, text, spec)) {
      g_object_set_property(G_OBJECT(element), property.c_str(), &value);
    }
    g_value_unset(&value);
  }
}

// A device's identity hint: its own property, else, for the serial and the bus path of a
// device that names its V4L2 node and gives neither, what udev says of that node. So a camera
// has one identity whether a probe, a started monitor or PipeWire listed it.
std::string HintOf(GstDevice* device, const char* key) {
  std::string value = DeviceProperty(device, key);
  const bool udevHint = std::strcmp(key, kSerial) == 0 || std::strcmp(key, kBusPath) == 0;
  if (!value.empty() || !udevHint || !DeviceProperty(device, kSerial).empty() ||
      !DeviceProperty(device, kBusPath).empty()) {
    return value;
  }
  std::string node = DeviceProperty(device, kV4l2Path);
  if (node.empty() && DeviceProperty(device, kApi) == "v4l2")
    node = DeviceProperty(device, kPath);
  const NodeIdentity identity = UdevIdentity(node);
  return std::strcmp(key, kSerial) == 0 ? identity.serial : identity.busPath;
}

std::string StringField(const GstStructure* s, const char* name) {
  const gchar* value = gst_structure_get_string(s, name);
  return value ? value : "";
}

}  // namespace

Moniker::Moniker(GstStructurePtr structure) noexcept : structure_(std::move(structure)) {}
Moniker::Moniker(const Moniker& other) : structure_(gst_structure_copy(other.structure_.get())) {}
Moniker& Moniker::operator=(const Moniker& other) {
  if (this != &other)
    structure_.reset(gst_structure_copy(other.structure_.get()));
  return *this;
}
Moniker::~Moniker() = default;

std::unique_ptr<Moniker> Moniker::FromDevice(GstDevice* device, const std::string& category) {
  if (!device)
    return nullptr;
  GstStructurePtr s(gst_structure_new_empty(kStructureName));
  GCharPtr name(gst_device_get_display_name(device));
  gst_structure_set(s.get(), kCategory, G_TYPE_STRING, category.c_str(), kDisplayName,
                    G_TYPE_STRING, name ? name.get() : "", nullptr);
  for (const char* hint : {kApi, kSerial, kBusPath, kPath, kNodeName, kV4l2Path, kCard}) {
    const std::string value = HintOf(device, hint);
    if (!value.empty())
      gst_structure_set(s.get(), hint, G_TYPE_STRING, value.c_str(), nullptr);
  }
  auto element = GstRef<GstElement>::Adopt(gst_device_create_element(device, nullptr));
  if (element) {
    if (GstElementFactory* factory = gst_element_get_factory(element.get())) {
      gst_structure_set(s.get(), kFactory, G_TYPE_STRING,
                        gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory)), nullptr);
    }
    StoreSettings(s.get(), element.get());
  }
  return std::unique_ptr<Moniker>(new Moniker(std::move(s)));
}

std::unique_ptr<Moniker> Moniker::Load(const std::vector<std::uint8_t>& bytes) {
  const std::string text(bytes.begin(), bytes.end());
  if (text.empty() || text.find('\0') != std::string::npos)
    return nullptr;
  if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr))
    return nullptr;
  GstStructurePtr s(gst_structure_from_string(text.c_str(), nullptr));
  if (!s || !gst_structure_has_name(s.get(), kStructureName))
    return nullptr;
  if (!gst_structure_get_string(s.get(), kCategory))
    return nullptr;
  return std::unique_ptr<Moniker>(new Moniker(std::move(s)));
}

std::string Moniker::Text() const {
  GCharPtr text(gst_structure_to_string(structure_.get()));
  return text.get();
}

std::vector<std::uint8_t> Moniker::Save() const {
  const std::string text = Text();
  return {text.begin(), text.end()};
}

std::string Moniker::Field(const char* name) const {
  return StringField(structure_.get(), name);
}
std::string Moniker::DisplayName() const {
  return Field(kDisplayName);
}
std::string Moniker::Factory() const {
  return Field(kFactory);
}
std::string Moniker::Hint(const char* field) const {
  return Field(field);
}
std::string Moniker::Identity() const {
  for (const char* key : {kSerial, kBusPath}) {
    if (std::string value = Field(key); !value.empty())
      return value;
  }
  return DisplayName();
}

GstRef<GstDevice> Moniker::FindDevice() const {
  const std::vector<DeviceRecord> devices = EnumerateDevices(Field(kCategory));
  const std::string serial = Field(kSerial);

  std::vector<const DeviceRecord*> candidates;
  for (const DeviceRecord& record : devices) {
    const std::string otherSerial = HintOf(record.device.get(), kSerial);
    // Another serial is another device, whatever port, node or name it has now.
    if (!serial.empty() && !otherSerial.empty() && otherSerial != serial)
      continue;
    candidates.push_back(&record);
  }

  // A V4L2 node is the same whoever lists it: the V4L2 provider as device.path, PipeWire as
  // api.v4l2.path; and the V4L2 provider's name for a camera is its card name.
  auto nodeOf = [](GstDevice* device) {
    const std::string path = DeviceProperty(device, kPath);
    return path.empty() ? DeviceProperty(device, kV4l2Path) : path;
  };
  auto matches = [&](const DeviceRecord& record, const char* key, const std::string& stored) {
    if (std::strcmp(key, kDisplayName) == 0)
      return record.displayName == stored || record.v4l2Name == stored;
    if (std::strcmp(key, kPath) == 0)
      return nodeOf(record.device.get()) == stored;
    return HintOf(record.device.get(), key) == stored;
  };
  bool matched = false;
  for (const char* key : {kSerial, kBusPath, kNodeName, kPath, kDisplayName}) {
    if (matched && candidates.size() == 1)
      break;
    const std::string stored =
        std::strcmp(key, kPath) == 0 && Field(kPath).empty() ? Field(kV4l2Path) : Field(key);
    if (stored.empty())
      continue;
    std::vector<const DeviceRecord*> narrowed;
    std::copy_if(candidates.begin(), candidates.end(), std::back_inserter(narrowed),
                 [&](const DeviceRecord* record) { return matches(*record, key, stored); });
    if (narrowed.empty())
      continue;
    candidates = std::move(narrowed);
    matched = true;
  }

  if (matched) {
    // Namesakes left after every hint: the one of the same provider, else the first.
    const std::string api = Field(kApi);
    auto found = std::find_if(candidates.begin(), candidates.end(), [&](const DeviceRecord* r) {
      return DeviceProperty(r->device.get(), kApi) == api;
    });
    const DeviceRecord* record = found != candidates.end() ? *found : candidates.front();
    return record->device;
  }
  return {};
}

GstRef<GstElement> Moniker::BindToObject() const {
  if (const GstRef<GstDevice> device = FindDevice()) {
    auto element = GstRef<GstElement>::Adopt(gst_device_create_element(device.get(), nullptr));
    if (element) {
      g_object_set_qdata_full(G_OBJECT(element.get()), BoundDeviceQuark(),
                              gst_object_ref(device.get()), gst_object_unref);
    }
    return element;
  }
  const std::string factory = Factory();
  if (factory.empty())
    return {};
  auto element = GstRef<GstElement>::Adopt(gst_element_factory_make(factory.c_str(), nullptr));
  if (element)
    ApplySettings(structure_.get(), element.get());
  return element;
}

GstDevice* BoundDevice(GstElement* element) noexcept {
  return element
             ? static_cast<GstDevice*>(g_object_get_qdata(G_OBJECT(element), BoundDeviceQuark()))
             : nullptr;
}

}  // namespace platform
