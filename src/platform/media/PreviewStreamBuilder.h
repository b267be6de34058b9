#pragma once
// The preview stream of a capture graph: source -> mode filter -> (decoder) -> converter ->
// intermediate -> converter -> sink, the source held to the mode ChooseCaptureMode picks, and a
// decoder and converters inserted only where a direct link fails. Main thread only.

#include <gst/gst.h>

#include <string>
#include <vector>

namespace platform {

// An element the builder may have to insert, and the Debian package that brings it.
struct BuilderElement {
  std::string factory;
  std::string package;
};
// Every element the builder may insert; a capture graph checks them before it starts.
const std::vector<BuilderElement>& PreviewStreamElements();

// Links the three elements, which are already children of `pipeline` (intermediate may be
// null). Inserted elements join the pipeline. The source is held to the mode `wantedMode` names
// (a CaptureModeEntry key) when it offers that mode, else to the largest. False when some link
// could not be made; the links made so far stay.
bool RenderPreviewStream(GstElement* pipeline, GstElement* source, GstElement* intermediate,
                         GstElement* sink, const std::string& wantedMode = {});

}  // namespace platform
