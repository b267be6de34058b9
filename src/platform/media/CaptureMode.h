#pragma once
// Which of a device's modes a capture graph asks for, and how a compressed mode becomes raw
// video. Main thread.

#include <gst/gst.h>

#include <string>
#include <vector>

#include "platform/media/GstRef.h"

namespace platform {

class Moniker;

// The mode to capture in, from what an opened device offers: the largest frame size it offers
// in any format; at that size the highest frame rate; at equal size and rate, raw before
// compressed ("the video's native size"). Only modes the graph can convert or decode count,
// and only fixed sizes: a device that is not open offers its whole template, which names no
// mode. Caps of one structure (format, width, height, framerate), or null when no mode is.
GstRef<GstCaps> ChooseCaptureMode(GstCaps* offered);
// The mode named `wanted` (a CaptureModeEntry key) when `offered` has it, else the mode above.
GstRef<GstCaps> ChooseCaptureMode(GstCaps* offered, const std::string& wanted);

// One mode as a list of modes shows it: `key` names it in a settings file ("YUY2 640x480@30/1",
// "MJPEG 1920x1080@30/1"), `label` is for people ("YUY2 640x480, 30 fps").
struct CaptureModeEntry {
  std::string key;
  std::string label;
};
// The modes ChooseCaptureMode chooses among, in the device's order, each once.
std::vector<CaptureModeEntry> ListCaptureModes(GstCaps* offered);
// The modes of the device `moniker` names, as its provider lists them without opening it;
// empty when the device is not present.
std::vector<CaptureModeEntry> DeviceCaptureModes(const Moniker& moniker);

// The decoder factory for compressed `caps`: jpegdec for JPEG, otherwise the best-ranked
// installed video decoder that accepts them; empty when there is none.
std::string DecoderFor(GstCaps* caps);

}  // namespace platform
