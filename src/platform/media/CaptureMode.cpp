#include "platform/media/CaptureMode.h"

#include <algorithm>
#include <optional>

#include "platform/media/Moniker.h"

namespace platform {

namespace {

constexpr char kRawVideo[] = "video/x-raw";

struct Mode {
  GstStructure* structure;  // borrowed from the normalized caps
  int width;
  int height;
  int rateNum;
  int rateDen;
  bool raw;
};

// The highest rate a framerate field allows (a fixed value or the top of a range); 0/1 when
// the field is missing or of another kind.
void TopRate(const GstStructure* s, int& num, int& den) {
  num = 0;
  den = 1;
  const GValue* rate = gst_structure_get_value(s, "framerate");
  if (rate && GST_VALUE_HOLDS_FRACTION(rate)) {
    num = gst_value_get_fraction_numerator(rate);
    den = gst_value_get_fraction_denominator(rate);
  } else if (rate && GST_VALUE_HOLDS_FRACTION_RANGE(rate)) {
    const GValue* top = gst_value_get_fraction_range_max(rate);
    num = gst_value_get_fraction_numerator(top);
    den = gst_value_get_fraction_denominator(top);
  }
}

bool InSystemMemory(GstCaps* caps, guint index) {
  GstCapsFeatures* features = gst_caps_get_features(caps, index);
  return !features || gst_caps_features_is_equal(features, GST_CAPS_FEATURES_MEMORY_SYSTEM_MEMORY);
}

// Whether the graph can turn this mode into the pictures it shows: a converter for raw
// formats, a decoder for the rest.
bool Workable(const GstStructure* s, bool raw, GstElementFactory* converter) {
  auto one = GstRef<GstCaps>::Adopt(gst_caps_new_full(gst_structure_copy(s), nullptr));
  if (raw)
    return converter && gst_element_factory_can_sink_any_caps(converter, one.get());
  return !DecoderFor(one.get()).empty();
}

std::optional<Mode> ModeOf(GstCaps* caps, guint index, GstElementFactory* converter) {
  GstStructure* s = gst_caps_get_structure(caps, index);
  Mode mode{s, 0, 0, 0, 1, gst_structure_has_name(s, kRawVideo) != FALSE};
  if (!InSystemMemory(caps, index) || !gst_structure_get_int(s, "width", &mode.width) ||
      !gst_structure_get_int(s, "height", &mode.height) || mode.width <= 0 || mode.height <= 0) {
    return std::nullopt;
  }
  if (mode.raw && !gst_structure_get_string(s, "format"))
    return std::nullopt;
  TopRate(s, mode.rateNum, mode.rateDen);
  if (!Workable(s, mode.raw, converter))
    return std::nullopt;
  return mode;
}

// True when `a` is the better mode to capture in.
bool Better(const Mode& a, const Mode& b) {
  const long long areaA = static_cast<long long>(a.width) * a.height;
  const long long areaB = static_cast<long long>(b.width) * b.height;
  if (areaA != areaB)
    return areaA > areaB;
  if (a.width != b.width)
    return a.width > b.width;
  const int rate = gst_util_fraction_compare(a.rateNum, a.rateDen, b.rateNum, b.rateDen);
  if (rate != 0)
    return rate > 0;
  return a.raw && !b.raw;
}

// Every workable mode of `offered`, in its order; `modes` holds the structures they borrow.
std::vector<Mode> WorkableModes(GstCaps* offered, GstRef<GstCaps>& modes) {
  std::vector<Mode> found;
  if (!offered || gst_caps_is_any(offered) || gst_caps_is_empty(offered))
    return found;
  // One structure per value of every list (formats, sizes, rates), in the device's order:
  // normalizing the whole caps would move each list's further values to the end.
  modes = GstRef<GstCaps>::Adopt(gst_caps_new_empty());
  for (guint i = 0; i < gst_caps_get_size(offered); ++i) {
    GstCaps* one = gst_caps_copy_nth(offered, i);
    gst_caps_append(modes.get(), gst_caps_normalize(one));
  }
  auto converter = GstRef<GstElementFactory>::Adopt(gst_element_factory_find("videoconvert"));
  for (guint i = 0; i < gst_caps_get_size(modes.get()); ++i) {
    if (std::optional<Mode> mode = ModeOf(modes.get(), i, converter.get()))
      found.push_back(*mode);
  }
  return found;
}

std::string FormatName(const Mode& mode) {
  if (mode.raw)
    return gst_structure_get_string(mode.structure, "format");
  const char* media = gst_structure_get_name(mode.structure);
  return g_str_equal(media, "image/jpeg") ? "MJPEG" : media;
}

std::string KeyOf(const Mode& mode) {
  return FormatName(mode) + " " + std::to_string(mode.width) + "x" + std::to_string(mode.height) +
         "@" + std::to_string(mode.rateNum) + "/" + std::to_string(mode.rateDen);
}

std::string LabelOf(const Mode& mode) {
  std::string label =
      FormatName(mode) + " " + std::to_string(mode.width) + "x" + std::to_string(mode.height);
  if (mode.rateNum > 0) {
    // Tenths in integers: the C library's decimal point follows the user's locale.
    const long long tenths = static_cast<long long>(mode.rateNum) * 10 / mode.rateDen;
    label += ", " + std::to_string(tenths / 10);
    if (tenths % 10 != 0)
      label += "." + std::to_string(tenths % 10);
    label += " fps";
  }
  return label;
}

GstRef<GstCaps> CapsOf(const Mode& best) {
  GstStructure* chosen =
      gst_structure_new(gst_structure_get_name(best.structure), "width", G_TYPE_INT, best.width,
                        "height", G_TYPE_INT, best.height, nullptr);
  if (best.raw) {
    gst_structure_set(chosen, "format", G_TYPE_STRING,
                      gst_structure_get_string(best.structure, "format"), nullptr);
  }
  if (best.rateNum > 0) {
    gst_structure_set(chosen, "framerate", GST_TYPE_FRACTION, best.rateNum, best.rateDen, nullptr);
  }
  return GstRef<GstCaps>::Adopt(gst_caps_new_full(chosen, nullptr));
}

}  // namespace

GstRef<GstCaps> ChooseCaptureMode(GstCaps* offered) {
  return ChooseCaptureMode(offered, {});
}

GstRef<GstCaps> ChooseCaptureMode(GstCaps* offered, const std::string& wanted) {
  GstRef<GstCaps> modes;
  const std::vector<Mode> found = WorkableModes(offered, modes);
  const Mode* best = nullptr;
  for (const Mode& mode : found) {
    if (!wanted.empty() && KeyOf(mode) == wanted)
      return CapsOf(mode);
    if (!best || Better(mode, *best))
      best = &mode;
  }
  return best ? CapsOf(*best) : GstRef<GstCaps>{};
}

std::vector<CaptureModeEntry> ListCaptureModes(GstCaps* offered) {
  GstRef<GstCaps> modes;
  std::vector<CaptureModeEntry> entries;
  for (const Mode& mode : WorkableModes(offered, modes)) {
    CaptureModeEntry entry{KeyOf(mode), LabelOf(mode)};
    const bool seen = std::any_of(entries.begin(), entries.end(),
                                  [&](const CaptureModeEntry& e) { return e.key == entry.key; });
    if (!seen)
      entries.push_back(std::move(entry));
  }
  return entries;
}

std::vector<CaptureModeEntry> DeviceCaptureModes(const Moniker& moniker) {
  const GstRef<GstDevice> device = moniker.FindDevice();
  if (!device)
    return {};
  auto caps = GstRef<GstCaps>::Adopt(gst_device_get_caps(device.get()));
  return caps ? ListCaptureModes(caps.get()) : std::vector<CaptureModeEntry>{};
}

std::string DecoderFor(GstCaps* caps) {
  if (gst_caps_is_empty(caps))
    return {};
  if (gst_structure_has_name(gst_caps_get_structure(caps, 0), "image/jpeg")) {
    auto jpeg = GstRef<GstElementFactory>::Adopt(gst_element_factory_find("jpegdec"));
    return jpeg ? "jpegdec" : "";
  }
  GList* decoders = gst_element_factory_list_get_elements(
      GST_ELEMENT_FACTORY_TYPE_DECODER | GST_ELEMENT_FACTORY_TYPE_MEDIA_VIDEO, GST_RANK_MARGINAL);
  // Both lists come ordered by decreasing rank.
  GList* accepting = gst_element_factory_list_filter(decoders, caps, GST_PAD_SINK, FALSE);
  std::string name;
  if (accepting)
    name = GST_OBJECT_NAME(accepting->data);
  gst_plugin_feature_list_free(accepting);
  gst_plugin_feature_list_free(decoders);
  return name;
}

}  // namespace platform
