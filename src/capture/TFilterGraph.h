#pragma once
// The graph component: owns the capture pipeline, adds and removes the linked components'
// filters as it becomes active and inactive, runs it, and hands its events to listeners on
// the main thread. Every operation runs on the main thread.
//
// The pipeline's state changes run on a thread of its own (platform::PipelineDriver), and the
// main thread waits for each only a moment (kAtOnce, half a second): an element may hold a
// change for as long as it likes (pipewiresrc waits for PipeWire up to 30 s, several times
// over). A pipeline that cannot stop at once is given up: the graph reports it Stopped, never
// raises it again, and lets it go (its elements with it) when it has finished on its own;
// ResetGraph then carries on with a new pipeline holding the components' filters afresh.
//
// While it plays, the graph watches its grabber's frames: none for 3 s, and for five frame
// intervals of the mode, is a lost device ("no frames came"), or, before the first frame, a
// device another program holds when the kernel says so. Some sources go quiet without a word.
//
// Public entries assert the main thread (platform::AssertMainThread).
//
// Lifetime of the graph and its components (either may be destroyed first):
// - A linked component destroyed first unlinks itself in its destructor (its FilterGraph
//   setter to none: UnlinkFilter, and UnlinkListener for a listener). An active graph removes
//   its filter on the way (AboutToRemove, remove, Removed).
// - The graph destroyed first deactivates (ActiveChanged(0) to listeners, AboutToRemove /
//   Removed to every linked component), then calls GraphDestroyed() once on every linked
//   component and listener that implements IGraphFreeNotification. The component clears its
//   graph reference there WITHOUT unlinking (the graph is going away). A component that keeps
//   a TFilterGraph* must implement IGraphFreeNotification.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "capture/CheckHResult.h"
#include "capture/LinkedFilter.h"
#include "platform/media/GraphEvent.h"  // the graph event codes EC_...

enum class TGraphMode { gmNormal = 0, gmCapture = 1, gmDVD = 2 };

// How long a playing graph may go without a frame before its device counts as lost: 3 s, or
// five frame intervals of a mode of fpsN/fpsD frames a second when that is longer (a 1/4 fps
// microscope camera: 20 s). 0/1: the rate is not known.
std::chrono::milliseconds FrameSilenceAllowed(int fpsN, int fpsD);

class TFilterGraph;

// Told when a graph the component refers to is destroyed; see the lifetime note above.
class IGraphFreeNotification {
 public:
  virtual ~IGraphFreeNotification() = default;
  // Clear the reference to `graph` without calling back into it.
  virtual void GraphDestroyed(TFilterGraph& graph) noexcept = 0;
};

// The capture graph builder that a gmCapture graph offers while active.
class TCaptureGraphBuilder {
 public:
  explicit TCaptureGraphBuilder(TFilterGraph& graph) : graph_(graph) {}
  // Links source -> (decoder) -> converter -> intermediate -> converter -> sink, adding
  // decoders and converters only where a direct link fails. The three elements must already
  // be in the graph; intermediate may be null. S_OK, or E_FAIL with whatever links were made
  // left in place (ResetGraph strips them); E_FAIL at once for a pipeline given up.
  HRESULT RenderStream(GstElement* source, GstElement* intermediate, GstElement* sink);
  // The mode the next RenderStream holds the source to, by its key (platform
  // CaptureModeEntry); empty, or a mode the source does not offer: the largest it offers.
  void SetCaptureMode(std::string modeKey) { captureMode_ = std::move(modeKey); }

 private:
  TFilterGraph& graph_;
  std::string captureMode_;
};

class TFilterGraph {
 public:
  explicit TFilterGraph(std::string name = "FGVCap");
  ~TFilterGraph();  // deactivates first, then notifies its components (see above)
  TFilterGraph(const TFilterGraph&) = delete;
  TFilterGraph& operator=(const TFilterGraph&) = delete;

  const std::string& Name() const noexcept { return name_; }

  bool Active() const noexcept;
  // Activating raises EStillwickError naming a GStreamer element the graph needs but cannot
  // find (a missing plugin); the graph then stays inactive.
  void SetActive(bool active);
  TGraphMode Mode() const noexcept;
  void SetMode(TGraphMode mode);
  bool GraphEdit() const noexcept;
  void SetGraphEdit(bool graphEdit);
  bool LinearVolume() const noexcept;
  void SetLinearVolume(bool linearVolume);
  const std::string& LogFile() const noexcept;
  void SetLogFile(const std::string& fileName);

  std::function<void(TFilterGraph& sender)> OnActivate;
  std::function<void(TFilterGraph& sender, int code, intptr_t param1, intptr_t param2)> OnDSEvent;

  // False without broadcasting while inactive. Play: true when the pipeline starts or is
  // starting (also when the start is still under way after the wait); Pause, Stop: true when
  // the pipeline reached the state at once (a live source's "no preroll" answer counts: the
  // state is reached, it just carries no frames). Stop leaves a pipeline that is stopped
  // already (never started, stopped by an error, or given up) closed, so it never opens a
  // device again; a stop not made at once gives the pipeline up. Play and Pause of a pipeline
  // given up: false.
  bool Play();
  bool Pause();
  bool Stop();
  // A change still in progress reports its target state; one that failed, the state the
  // pipeline stayed in; a pipeline given up, Stopped.
  GraphState State() const;
  // Stops (to NULL, so nothing streams), unlinks every pad and removes every element that is
  // not a linked component's filter. A pipeline that cannot stop at once is given up and
  // replaced by a new one with the components' filters added afresh (Removed, then
  // AboutToAdd).
  void ResetGraph();
  void DisconnectAllPins();

  void LinkFilter(ILinkedFilter* component);
  void UnlinkFilter(ILinkedFilter* component);
  void LinkListener(IGraphListener* listener);
  void UnlinkListener(IGraphListener* listener);

  // The pipeline (the original IFilterGraph2) while active, else null. Borrowed.
  GstElement* Pipeline() const noexcept;
  // Conversion to the capture graph builder: raises "Interface not supported" unless active
  // in gmCapture.
  TCaptureGraphBuilder& CaptureGraphBuilder();

 private:
  friend class TCaptureGraphBuilder;
  struct Impl;
  std::string name_;
  std::unique_ptr<Impl> impl_;
};
