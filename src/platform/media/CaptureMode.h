#pragma once
// Which of a device's modes a capture graph asks for, and how a compressed mode becomes raw
// video. Main thread.

#include <gst/gst.h>

#include <string>

#include "platform/media/GstRef.h"

namespace platform {

// The mode to capture in, from what an opened device offers: the largest frame size it offers
// in any format; at that size the highest frame rate; at equal size and rate, raw before
// compressed ("the video's native size"). Only modes the graph can convert or decode count,
// and only fixed sizes: a device that is not open offers its whole template, which names no
// mode. Caps of one structure (format, width, height, framerate), or null when no mode is.
GstRef<GstCaps> ChooseCaptureMode(GstCaps* offered);

// The decoder factory for compressed `caps`: jpegdec for JPEG, otherwise the best-ranked
// installed video decoder that accepts them; empty when there is none.
std::string DecoderFor(GstCaps* caps);

}  // namespace platform
