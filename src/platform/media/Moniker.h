#pragma once
// The persistent identity of a capture device: what is needed to find the device again and to
// make its source element, kept as the text of a GstStructure, e.g.
//   device-moniker, category=Video/Source, factory=v4l2src, display-name="USB Camera",
//   device.api=v4l2, device.serial=..., device.bus_path=..., device.path=/dev/video0,
//   property.device="/dev/video0";
// or, for a camera PipeWire lists, node.name, api.v4l2.path and api.v4l2.cap.card besides.
// The "property." fields are the element's settings that differ from its defaults, each as
// gst_value_serialize text (so enum and flag values need no registered type to load). The
// identity hints come from the device's own properties. Main thread only.

#include <gst/gst.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/media/GstRef.h"

namespace platform {

class Moniker {
 public:
  // The identity of `device`, found by an enumeration of `category`. Makes the device's element
  // once to learn its factory and settings.
  static std::unique_ptr<Moniker> FromDevice(GstDevice* device, const std::string& category);
  // Reads back what Save wrote; null when the bytes are not a moniker.
  static std::unique_ptr<Moniker> Load(const std::vector<std::uint8_t>& bytes);

  Moniker(const Moniker& other);
  Moniker& operator=(const Moniker& other);
  ~Moniker();

  // UTF-8 of the structure text, without a terminating NUL.
  std::vector<std::uint8_t> Save() const;
  std::string Text() const;
  std::string DisplayName() const;
  std::string Factory() const;
  // An identity hint as the device gave it ("device.serial", "api.v4l2.path"...); empty when
  // the device gave none.
  std::string Hint(const char* field) const;
  // What names this device apart from others wherever it is plugged: its serial, else its bus
  // path, else its display name; the hints BindToObject tries first.
  std::string Identity() const;

  // The device present now that BindToObject would make its element from, or null.
  GstRef<GstDevice> FindDevice() const;
  // The device's source element, or null. The device is looked up again through a fresh
  // enumeration (device node numbers change on replug; serials and bus paths do not): by serial,
  // then bus path, then PipeWire node name, then V4L2 node path (whichever provider lists it),
  // then display name (or the V4L2 card name), each step narrowing the candidates left by the
  // one before; a device whose serial differs from a stored serial is never taken, and the
  // ids a PipeWire session gives its nodes are never matched on (they change every session).
  // The element made from a device keeps it (BoundDevice). When no device matches, the element
  // is made from the stored factory with the stored settings (null when the factory does not
  // exist).
  GstRef<GstElement> BindToObject() const;

 private:
  explicit Moniker(GstStructurePtr structure) noexcept;
  std::string Field(const char* name) const;

  GstStructurePtr structure_;
};

// The device an element from BindToObject was made from (borrowed; the element holds it), or
// null for an element made otherwise.
GstDevice* BoundDevice(GstElement* element) noexcept;

}  // namespace platform
