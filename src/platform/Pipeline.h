#pragma once
// The pipeline as the capture graph sees it: elements join and leave it under their component
// names, its pads are unlinked wholesale, and its state is read without waiting. Main thread.

#include <gst/gst.h>

#include <string>
#include <vector>

#include "platform/GstRef.h"

namespace platform {

GstRef<GstElement> NewPipeline(const std::string& name);

// Names `element` and adds it to `pipeline`. False for a null element, or one that is already
// in a bin or whose name another child has: the pipeline rejects it and nothing changes.
bool AddElement(GstElement* pipeline, GstElement* element, const std::string& name);

// Takes `element` to NULL and out of `pipeline`. False for null or an element not in it.
bool RemoveElement(GstElement* pipeline, GstElement* element);

// The pipeline's own children (not those of nested bins).
std::vector<GstRef<GstElement>> Elements(GstElement* pipeline);
std::vector<GstRef<GstPad>> Pads(GstElement* element);

// Unlinks every pad of `element` from its peer. False when an unlink failed (that pad stays).
bool DisconnectPads(GstElement* element);

// The state a query that does not wait reports: the target of a change still in progress,
// else the current state, which is also the answer after a change that failed.
GstState ReportedState(GstElement* element);

// The element factories in `names` that the registry does not know.
std::vector<std::string> MissingFactories(const std::vector<std::string>& names);

}  // namespace platform
