#pragma once
// The graph component: owns the capture pipeline, adds and removes the linked components'
// filters as it becomes active and inactive, runs it, and hands its events to listeners on
// the main thread. Every operation runs on the main thread.

#include <gst/gst.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "capture/CheckHResult.h"
#include "capture/LinkedFilter.h"

enum class TGraphMode { gmNormal = 0, gmCapture = 1, gmDVD = 2 };

class TFilterGraph;

// The capture graph builder that a gmCapture graph offers while active.
class TCaptureGraphBuilder {
 public:
  explicit TCaptureGraphBuilder(TFilterGraph& graph) : graph_(graph) {}
  // Links source -> (decoder) -> converter -> intermediate -> converter -> sink, adding
  // decoders and converters only where a direct link fails. S_OK, or a failure code.
  HRESULT RenderStream(GstElement* source, GstElement* intermediate, GstElement* sink);

 private:
  TFilterGraph& graph_;
};

class TFilterGraph {
 public:
  explicit TFilterGraph(std::string name = "FGVCap");
  ~TFilterGraph();  // deactivates first
  TFilterGraph(const TFilterGraph&) = delete;
  TFilterGraph& operator=(const TFilterGraph&) = delete;

  const std::string& Name() const noexcept { return name_; }

  bool Active() const noexcept;
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

  bool Play();
  bool Pause();
  bool Stop();
  GraphState State() const;
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
