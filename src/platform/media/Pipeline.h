#pragma once
// Elements and pipelines as the capture components see them: elements join and leave a
// pipeline under their component names, change state, and have their pads unlinked; states are
// read without waiting. The one place outside the element implementations that changes an
// element's state or its links. Main thread.

#include <gst/gst.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/media/GstRef.h"

namespace platform {

// GStreamer's element states.
enum class ElementState { VoidPending, Null, Ready, Paused, Playing };

// How a state change went: reached, still under way (a sink waiting for its first frame),
// reached without a frame to show (a live source pausing), or failed.
enum class StateChange { Failure, Success, Async, NoPreroll };

GstRef<GstElement> NewPipeline(const std::string& name);

// Names `element` and adds it to `pipeline`. False for a null element, or one that is already
// in a bin or whose name another child has: the pipeline rejects it and nothing changes.
bool AddElement(GstElement* pipeline, GstElement* element, const std::string& name);

// Takes `element` to NULL and out of `pipeline`. False for null or an element not in it.
bool RemoveElement(GstElement* pipeline, GstElement* element);

// The pipeline's own children (not those of nested bins).
std::vector<GstRef<GstElement>> Elements(GstElement* pipeline);
// Whether `element` makes a stream rather than taking one: flagged as a source, or with source
// pads and no sink pads.
bool IsSourceElement(GstElement* element);
// The pipeline's first own child that is a source element, or null.
GstRef<GstElement> SourceElement(GstElement* pipeline);
std::vector<GstRef<GstPad>> Pads(GstElement* element);
// The element's always-present pad of that name, or null.
GstRef<GstPad> StaticPad(GstElement* element, const char* name);

// Unlinks `pad` from its peer, whichever way round they are linked. True when it was linked
// and is not any more. Null does nothing.
bool UnlinkPad(GstPad* pad) noexcept;
// Unlinks every pad of `element` from its peer. False when an unlink failed (that pad stays).
bool DisconnectPads(GstElement* element);

StateChange SetState(GstElement* element, ElementState target);
// Takes `element` to NULL: when this returns, no streaming thread is inside it any more and
// its devices are closed. Null does nothing.
void StopElement(GstElement* element) noexcept;
// The state a query that does not wait reports: the target of a change still in progress,
// else the current state, which is also the answer after a change that failed.
ElementState ReportedState(GstElement* element);
// The state the element rests in, or nothing while a change is under way or after one failed.
// A live source rests in PAUSED without a frame (NO_PREROLL): that counts as settled.
std::optional<ElementState> SettledState(GstElement* element);

// The element factories in `names` that the registry does not know.
std::vector<std::string> MissingFactories(const std::vector<std::string>& names);

}  // namespace platform
