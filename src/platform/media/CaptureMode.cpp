#include "platform/media/CaptureMode.h"

#include <optional>

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

}  // namespace

GstRef<GstCaps> ChooseCaptureMode(GstCaps* offered) {
  if (!offered || gst_caps_is_any(offered) || gst_caps_is_empty(offered))
    return {};
  // One structure per value of every list (formats, sizes, rates), in the device's order.
  auto modes = GstRef<GstCaps>::Adopt(gst_caps_normalize(gst_caps_ref(offered)));
  auto converter = GstRef<GstElementFactory>::Adopt(gst_element_factory_find("videoconvert"));
  std::optional<Mode> best;
  for (guint i = 0; i < gst_caps_get_size(modes.get()); ++i) {
    const std::optional<Mode> mode = ModeOf(modes.get(), i, converter.get());
    if (mode && (!best || Better(*mode, *best)))
      best = mode;
  }
  if (!best)
    return {};
  GstStructure* chosen =
      gst_structure_new(gst_structure_get_name(best->structure), "width", G_TYPE_INT, best->width,
                        "height", G_TYPE_INT, best->height, nullptr);
  if (best->raw) {
    gst_structure_set(chosen, "format", G_TYPE_STRING,
                      gst_structure_get_string(best->structure, "format"), nullptr);
  }
  if (best->rateNum > 0) {
    gst_structure_set(chosen, "framerate", GST_TYPE_FRACTION, best->rateNum, best->rateDen,
                      nullptr);
  }
  return GstRef<GstCaps>::Adopt(gst_caps_new_full(chosen, nullptr));
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
