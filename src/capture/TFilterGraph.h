#pragma once
// The graph component: owns the capture pipeline, adds and removes the linked components'
// filters as it becomes active and inactive, runs it, and hands its events to listeners on
// the main thread. Every operation runs on the main thread.
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

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "capture/CheckHResult.h"
#include "capture/LinkedFilter.h"
#include "platform/media/GraphEvent.h"  // the graph event codes EC_...

enum class TGraphMode { gmNormal = 0, gmCapture = 1, gmDVD = 2 };

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
  // left in place (ResetGraph strips them).
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
  // starting; Pause, Stop: true when the pipeline reached the state at once (a live source's
  // "no preroll" answer counts: the state is reached, it just carries no frames). Stop leaves a
  // pipeline that is stopped already (never started, or stopped by an error) closed, so it
  // never opens a device again.
  bool Play();
  bool Pause();
  bool Stop();
  // A change still in progress reports its target state; one that failed, the state the
  // pipeline stayed in.
  GraphState State() const;
  // Stops (to NULL, so nothing streams), unlinks every pad and removes every element that is
  // not a linked component's filter.
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
  struct Impl;
  std::string name_;
  std::unique_ptr<Impl> impl_;
};
