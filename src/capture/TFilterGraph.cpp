#include "capture/TFilterGraph.h"

#include <QTimer>

#include <algorithm>
#include <chrono>

#include "capture/CaptureLog.h"
#include "capture/GraphFailureText.h"
#include "platform/media/DeviceNode.h"
#include "platform/media/GrabberElement.h"
#include "platform/media/GraphBus.h"
#include "platform/media/GraphEvent.h"
#include "platform/media/GraphLog.h"
#include "platform/media/GraphRegistry.h"
#include "platform/media/GstRef.h"
#include "platform/media/Pipeline.h"
#include "platform/media/PipelineDriver.h"
#include "platform/media/PreviewStreamBuilder.h"
#include "platform/runtime/Error.h"
#include "platform/runtime/ErrorBox.h"
#include "platform/runtime/Threads.h"

using platform::AssertMainThread;
using platform::ElementState;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

// How long the main thread waits for a state change before it goes on without it ("at once").
// A change takes milliseconds unless an element holds it (pipewiresrc's start waits for
// PipeWire up to 30 s), which costs the window this long once, not again while it is held.
constexpr milliseconds kAtOnce{500};
// A playing graph whose grabber sees no frame for this long, and for five of the mode's frame
// intervals, has lost its device: some sources go quiet without a word (a camera unplugged
// behind PipeWire, a capture card whose input went away, a hub that lost power).
constexpr milliseconds kSilenceAllowed{3000};
constexpr int kFrameIntervalsAllowed = 5;
// A start that has brought no frame this long is worth asking the kernel whether another
// program holds the device.
constexpr milliseconds kAskWhetherBusyAfter{1000};
constexpr milliseconds kWatchEvery{250};

// Calls `f` for each item of `live` as it was on entry, skipping items that an earlier call
// took out of the list (a component may unlink itself or another one from a notification).
template <typename T, typename F>
void ForEachLinked(const std::vector<T*>& live, F&& f) {
  // A copy on purpose: `f` may change `live`.
  const std::vector<T*> snapshot = live;  // NOLINT(performance-unnecessary-copy-initialization)
  for (T* item : snapshot) {
    if (std::find(live.begin(), live.end(), item) != live.end())
      f(item);
  }
}

template <typename T>
void EraseFirst(std::vector<T*>& list, T* item) {
  auto it = std::find(list.begin(), list.end(), item);
  if (it != list.end())
    list.erase(it);
}

}  // namespace

struct TFilterGraph::Impl {
  explicit Impl(TFilterGraph& owner)
      : self(owner), bus([this](GstMessage* message) { HandleMessage(message); }) {
    watch.setTimerType(Qt::PreciseTimer);
    watch.setInterval(kWatchEvery);
    GuardedConnect(
        &watch, &QTimer::timeout, &watch, [this] { WatchFrames(); }, BoxTiming::AfterModalWindows);
  }

  void Activate();
  void Deactivate();
  // Ends the platform side of an active graph (bus, registry, log, builder, pipeline).
  void ReleasePlatform() noexcept;
  // Lets the pipeline and its driver go; a pipeline still held finishes on its own.
  void LetPipelineGo() noexcept;
  void ApplyLogFile();
  void AddLinked(ILinkedFilter* component);
  // `takeOut`: the filter leaves the pipeline; false for a pipeline given up, whose elements
  // are not touched again (they go with it).
  void RemoveLinked(ILinkedFilter* component, bool takeOut);
  void Broadcast(ControlEvent event, int param);
  bool Control(ControlEvent event, ElementState target, bool acceptAsync);
  // The state a query that does not wait reports: the target of a request under way.
  ElementState Reported() const;
  // Takes the pipeline to NULL if that can be done at once. False when an element holds it:
  // the pipeline is given up (it goes to NULL on its own, and counts as stopped).
  bool StopAtOnce();
  // ResetGraph's answer to a pipeline given up: a new, empty pipeline that holds the
  // components' filters afresh.
  void Renew();
  void WatchFrames();
  void HandleMessage(GstMessage* message);
  void Dispatch(int code, intptr_t param1, intptr_t param2);

  TFilterGraph& self;
  bool active = false;
  TGraphMode mode = TGraphMode::gmNormal;
  bool graphEdit = false;
  bool linearVolume = true;
  std::string logFile;
  std::vector<ILinkedFilter*> filters;     // in link order; not owned
  std::vector<IGraphListener*> listeners;  // in link order; not owned

  platform::GstRef<GstElement> pipeline;
  // Makes the pipeline's state changes on its own thread; with `pipeline`.
  std::unique_ptr<platform::PipelineDriver> driver;
  // A stop could not be made at once: the pipeline only waits to be let go. It counts as
  // stopped and is never raised again.
  bool givenUp = false;
  std::unique_ptr<TCaptureGraphBuilder> builder;
  platform::GraphBus bus;  // the notification object
  platform::GraphRegistry registry;
  platform::GraphLog log;
  // The pipeline's first error has been shown; its later ones only go to the listeners.
  bool errorShown = false;

  // The watch on a playing graph's frames: since when it plays, and whether the kernel has
  // been asked about its device in this run.
  QTimer watch;
  Clock::time_point playingSince;
  bool askedWhetherBusy = false;
};

void TFilterGraph::Impl::Activate() {
  if (mode == TGraphMode::gmCapture) {
    // Better to refuse now, naming what is missing, than to build a graph that cannot run.
    for (const auto& element : platform::PreviewStreamElements()) {
      if (!platform::MissingFactories({element.factory}).empty()) {
        RaiseError(FormatMessage(
            "Cannot build the capture graph: the GStreamer element \"%s\" is missing (install %s)",
            element.factory.c_str(), element.package.c_str()));
      }
    }
  }
  auto created = platform::NewPipeline(self.Name());
  if (!created)
    RaiseError("Cannot create the capture graph");
  pipeline = std::move(created);
  driver = std::make_unique<platform::PipelineDriver>(pipeline.get());
  givenUp = false;
  // gmDVD needs nothing this system has; it gets the plain graph of gmNormal.
  if (mode == TGraphMode::gmCapture)
    builder = std::make_unique<TCaptureGraphBuilder>(self);
  active = true;
  errorShown = false;
  bus.Attach(pipeline.get());
  if (graphEdit)
    registry.Enter(pipeline.get());
  ApplyLogFile();
  watch.start();
  ForEachLinked(filters, [this](ILinkedFilter* component) { AddLinked(component); });
  if (self.OnActivate)
    self.OnActivate(self);
  Broadcast(ControlEvent::ActiveChanged, 1);
}

void TFilterGraph::Impl::Deactivate() {
  Broadcast(ControlEvent::ActiveChanged, 0);
  // Streaming ends first: a pipeline still changing state would take an element we just
  // stopped back to PLAYING before we could remove it, and it would be freed still running.
  const bool stopped = StopAtOnce();
  ForEachLinked(filters, [&](ILinkedFilter* component) { RemoveLinked(component, stopped); });
  ReleasePlatform();
}

void TFilterGraph::Impl::ReleasePlatform() noexcept {
  if (!pipeline)
    return;
  watch.stop();
  bus.Detach();
  registry.Withdraw();
  log.Close();
  builder.reset();
  LetPipelineGo();
  active = false;
}

void TFilterGraph::Impl::LetPipelineGo() noexcept {
  // Done at once as a rule, so nothing of the pipeline outlives this call; a pipeline given
  // up is not waited for again.
  if (driver)
    driver->Release(givenUp ? milliseconds(0) : kAtOnce);
  driver.reset();
  pipeline.reset();
  givenUp = false;
}

void TFilterGraph::Impl::ApplyLogFile() {
  log.Close();
  // A file that cannot be created leaves logging off; the name stays as it was.
  if (!logFile.empty() && log.Open(logFile))
    log.Note("log of graph " + self.Name());
}

void TFilterGraph::Impl::AddLinked(ILinkedFilter* component) {
  component->NotifyFilterOperation(FilterOperation::AboutToAdd, 0);
  const std::string name = component->GetFilterName();
  GstElement* filter = component->GetBaseFilter();
  // A component without a filter, or one the pipeline refuses, simply stays out of the graph.
  if (platform::AddElement(pipeline.get(), filter, name))
    log.Note("ADD " + name);
  component->NotifyFilterOperation(FilterOperation::Added, 0);
}

void TFilterGraph::Impl::RemoveLinked(ILinkedFilter* component, bool takeOut) {
  component->NotifyFilterOperation(FilterOperation::AboutToRemove, 0);
  GstElement* filter = component->GetBaseFilter();
  if (takeOut && platform::RemoveElement(pipeline.get(), filter)) {
    log.Note("REMOVE " + component->GetFilterName());
  }
  component->NotifyFilterOperation(FilterOperation::Removed, 0);
}

void TFilterGraph::Impl::Broadcast(ControlEvent event, int param) {
  ForEachLinked(listeners,
                [&](IGraphListener* listener) { listener->ControlEventReceived(event, param); });
}

ElementState TFilterGraph::Impl::Reported() const {
  if (const std::optional<ElementState> pending = driver->Pending())
    return *pending;
  return platform::ReportedState(pipeline.get());
}

bool TFilterGraph::Impl::Control(ControlEvent event, ElementState target, bool acceptAsync) {
  if (!pipeline)
    return false;
  Broadcast(event, 0);
  if (!pipeline)
    return false;  // a listener deactivated the graph
  // A stopped pipeline holds its devices closed; raising it to READY to "stop" it would open
  // them again, a lost one included. One given up is stopped for good.
  if (target == ElementState::Ready && (givenUp || Reported() == ElementState::Null))
    return true;
  if (givenUp)
    return false;
  if (target == ElementState::Playing) {
    playingSince = Clock::now();
    askedWhetherBusy = false;
  }
  const std::optional<platform::StateChange> change =
      driver->Change(target, driver->Held() ? milliseconds(0) : kAtOnce);
  if (!change) {
    // Still under way: a start goes on (State reports its target); a stop that cannot be made
    // at once gives the pipeline up, which then counts as stopped.
    if (target == ElementState::Ready) {
      givenUp = true;
      driver->Change(ElementState::Null, milliseconds(0));
    }
    return target == ElementState::Playing;
  }
  switch (*change) {
    case platform::StateChange::Success:
    case platform::StateChange::NoPreroll:  // reached; a live source just holds no frame
      return true;
    case platform::StateChange::Async:
      return acceptAsync;
    case platform::StateChange::Failure:
      break;
  }
  return false;
}

bool TFilterGraph::Impl::StopAtOnce() {
  if (!driver->Pending() && platform::ReportedState(pipeline.get()) == ElementState::Null &&
      platform::SettledState(pipeline.get())) {
    givenUp = false;
    return true;  // nothing holds it: stopped already, or given up and stopped since
  }
  if (!givenUp && driver->Change(ElementState::Null, driver->Held() ? milliseconds(0) : kAtOnce))
    return true;
  givenUp = true;
  return false;
}

void TFilterGraph::Impl::Renew() {
  ForEachLinked(filters, [&](ILinkedFilter* component) { RemoveLinked(component, false); });
  bus.Detach();
  registry.Withdraw();
  LetPipelineGo();
  auto created = platform::NewPipeline(self.Name());
  if (!created) {
    // Nothing to go on with: the graph ends inactive.
    watch.stop();
    log.Close();
    builder.reset();
    active = false;
    RaiseError("Cannot create the capture graph");
  }
  pipeline = std::move(created);
  driver = std::make_unique<platform::PipelineDriver>(pipeline.get());
  errorShown = false;
  bus.Attach(pipeline.get());
  if (graphEdit)
    registry.Enter(pipeline.get());
  log.Note("the graph's former pipeline could not stop at once; it goes on its own");
  ForEachLinked(filters, [this](ILinkedFilter* component) { AddLinked(component); });
}

void TFilterGraph::Impl::WatchFrames() {
  if (!pipeline || self.State() != GraphState::Playing)
    return;
  const std::optional<platform::FrameArrivals> arrivals =
      platform::GrabberFrameArrivals(pipeline.get());
  if (!arrivals)
    return;  // nothing to judge by
  const Clock::time_point now = Clock::now();
  const bool framesCame = arrivals->last && *arrivals->last > playingSince;
  const Clock::time_point since = framesCame ? *arrivals->last : playingSince;
  // The kernel knows when another program holds a V4L2 camera that PipeWire cannot start.
  std::string nodeInUse;
  if (!framesCame && !askedWhetherBusy && now - since >= kAskWhetherBusyAfter) {
    askedWhetherBusy = true;
    nodeInUse = platform::SourceNodeInUse(pipeline.get());
  }
  if (nodeInUse.empty() && now - since < FrameSilenceAllowed(arrivals->fpsN, arrivals->fpsD))
    return;
  log.Note(nodeInUse.empty() ? "no frames came" : "the device is in use: " + nodeInUse);
  const auto message = platform::SilentSourceMessage(pipeline.get(), nodeInUse);
  HandleMessage(message.get());
}

void TFilterGraph::Impl::HandleMessage(GstMessage* message) {
  GstElement* current = pipeline.get();
  if (!current)
    return;
  log.Record(message, current);
  const platform::GraphEvent event = platform::ClassifyMessage(message, current);
  if (event.pipelineStateChanged)
    registry.Refresh();
  // The box shows GStreamer's short text; what it says for developers goes to the log.
  if (!event.detail.empty()) {
    platform::LogLimited(lcCapture(), event.source,
                         QString::fromStdString(self.Name() + ": " + event.detail));
  }
  std::string failure;
  if (event.StopsStream()) {
    // An error, or the end of a live stream, ends it for good (an unplugged camera, a busy one,
    // a format nobody can convert). Stopping makes State say so, so nothing keeps saving the
    // last picture as if it were live; the user hears of it once, not once per element that
    // complains after it. NULL closes the device; Stop and ResetGraph leave it closed. A
    // pipeline an element holds is given up instead, and counts as stopped at once.
    StopAtOnce();
    if (!errorShown)
      failure = GraphFailureText(event.failure, event.message);
    errorShown = true;
  }
  // Graph events arrive on their own: their boxes wait for any modal window to close.
  Guarded([&] { Dispatch(event.code, reinterpret_cast<intptr_t>(message), 0); },
          BoxTiming::AfterModalWindows);
  if (!failure.empty())
    Guarded([&] { RaiseError(failure); }, BoxTiming::AfterModalWindows);
}

void TFilterGraph::Impl::Dispatch(int code, intptr_t param1, intptr_t param2) {
  ForEachLinked(listeners, [&](IGraphListener* listener) {
    listener->GraphEventReceived(code, param1, param2);
  });
  if (self.OnDSEvent)
    self.OnDSEvent(self, code, param1, param2);
}

// ---------------------------------------------------------------------------------------------

milliseconds FrameSilenceAllowed(int fpsN, int fpsD) {
  if (fpsN <= 0 || fpsD <= 0)
    return kSilenceAllowed;
  const auto intervals =
      milliseconds(static_cast<long long>(kFrameIntervalsAllowed) * 1000 * fpsD / fpsN);
  return std::max(kSilenceAllowed, intervals);
}

HRESULT TCaptureGraphBuilder::RenderStream(GstElement* source, GstElement* intermediate,
                                           GstElement* sink) {
  AssertMainThread();
  // A pipeline given up is left alone: an element of it may be held in a state change.
  if (graph_.impl_->givenUp)
    return E_FAIL;
  return platform::RenderPreviewStream(graph_.Pipeline(), source, intermediate, sink, captureMode_)
             ? S_OK
             : E_FAIL;
}

TFilterGraph::TFilterGraph(std::string name)
    : name_(std::move(name)), impl_(std::make_unique<Impl>(*this)) {
  AssertMainThread();  // the bus's receiver lives on the thread that creates it
}

TFilterGraph::~TFilterGraph() {
  AssertMainThread();
  Guarded([this] { SetActive(false); });
  impl_->ReleasePlatform();  // in case a component's notification failed half-way
  std::vector<IGraphFreeNotification*> notified;
  auto collect = [&](auto* item) {
    auto* notification = dynamic_cast<IGraphFreeNotification*>(item);
    if (notification &&
        std::find(notified.begin(), notified.end(), notification) == notified.end()) {
      notified.push_back(notification);
    }
  };
  for (auto* component : impl_->filters)
    collect(component);
  for (auto* listener : impl_->listeners)
    collect(listener);
  impl_->filters.clear();
  impl_->listeners.clear();
  for (auto* notification : notified)
    notification->GraphDestroyed(*this);
}

bool TFilterGraph::Active() const noexcept {
  return impl_->active;
}

void TFilterGraph::SetActive(bool active) {
  AssertMainThread();
  if (active == impl_->active)
    return;
  if (active) {
    impl_->Activate();
  } else {
    impl_->Deactivate();
  }
}

TGraphMode TFilterGraph::Mode() const noexcept {
  return impl_->mode;
}

void TFilterGraph::SetMode(TGraphMode mode) {
  AssertMainThread();
  if (mode == impl_->mode)
    return;
  const bool wasActive = impl_->active;
  SetActive(false);
  impl_->mode = mode;
  if (wasActive)
    SetActive(true);
}

bool TFilterGraph::GraphEdit() const noexcept {
  return impl_->graphEdit;
}

void TFilterGraph::SetGraphEdit(bool graphEdit) {
  AssertMainThread();
  impl_->graphEdit = graphEdit;
  if (!impl_->active)
    return;
  if (graphEdit && !impl_->registry.Entered()) {
    impl_->registry.Enter(impl_->pipeline.get());
  } else if (!graphEdit) {
    impl_->registry.Withdraw();
  }
}

bool TFilterGraph::LinearVolume() const noexcept {
  return impl_->linearVolume;
}

// No audio is ever set, so the volume scale is only kept.
void TFilterGraph::SetLinearVolume(bool linearVolume) {
  impl_->linearVolume = linearVolume;
}

const std::string& TFilterGraph::LogFile() const noexcept {
  return impl_->logFile;
}

void TFilterGraph::SetLogFile(const std::string& fileName) {
  AssertMainThread();
  if (impl_->active) {
    impl_->log.Close();
    if (!fileName.empty()) {
      if (!impl_->log.Open(fileName))
        return;  // logging stays off; the former name stays
      impl_->log.Note("log of graph " + name_);
    }
  }
  impl_->logFile = fileName;
}

bool TFilterGraph::Play() {
  AssertMainThread();
  return impl_->Control(ControlEvent::PlayRequested, ElementState::Playing, true);
}

bool TFilterGraph::Pause() {
  AssertMainThread();
  return impl_->Control(ControlEvent::PauseRequested, ElementState::Paused, false);
}

bool TFilterGraph::Stop() {
  AssertMainThread();
  return impl_->Control(ControlEvent::StopRequested, ElementState::Ready, false);
}

GraphState TFilterGraph::State() const {
  AssertMainThread();
  if (!impl_->pipeline)
    return GraphState::Uninitialized;
  if (impl_->givenUp)
    return GraphState::Stopped;
  switch (impl_->Reported()) {
    case ElementState::Null:
    case ElementState::Ready:
      return GraphState::Stopped;
    case ElementState::Paused:
      return GraphState::Paused;
    case ElementState::Playing:
      return GraphState::Playing;
    case ElementState::VoidPending:
      break;
  }
  return GraphState::Uninitialized;
}

void TFilterGraph::ResetGraph() {
  AssertMainThread();
  if (!impl_->pipeline)
    return;
  Stop();
  if (!impl_->pipeline)
    return;
  // Nothing may stream while the graph is taken apart: an element cut off mid-stream fails
  // the whole pipeline with "not-linked". One an element holds is not taken apart but
  // replaced.
  if (!impl_->StopAtOnce()) {
    impl_->Renew();
    return;
  }
  DisconnectAllPins();
  std::vector<GstElement*> linked;
  for (auto* component : impl_->filters)
    linked.push_back(component->GetBaseFilter());
  for (const auto& element : platform::Elements(impl_->pipeline.get())) {
    if (std::find(linked.begin(), linked.end(), element.get()) == linked.end()) {
      platform::RemoveElement(impl_->pipeline.get(), element.get());
    }
  }
}

void TFilterGraph::DisconnectAllPins() {
  AssertMainThread();
  if (!impl_->pipeline || impl_->givenUp)
    return;
  for (const auto& element : platform::Elements(impl_->pipeline.get())) {
    platform::DisconnectPads(element.get());
  }
}

void TFilterGraph::LinkFilter(ILinkedFilter* component) {
  AssertMainThread();
  if (!component)
    return;
  impl_->filters.push_back(component);
  if (impl_->active)
    impl_->AddLinked(component);
}

void TFilterGraph::UnlinkFilter(ILinkedFilter* component) {
  AssertMainThread();
  auto& filters = impl_->filters;
  if (std::find(filters.begin(), filters.end(), component) == filters.end())
    return;
  EraseFirst(filters, component);
  if (impl_->active)
    impl_->RemoveLinked(component, !impl_->givenUp && !impl_->driver->Held());
}

void TFilterGraph::LinkListener(IGraphListener* listener) {
  AssertMainThread();
  if (listener)
    impl_->listeners.push_back(listener);
}

void TFilterGraph::UnlinkListener(IGraphListener* listener) {
  AssertMainThread();
  EraseFirst(impl_->listeners, listener);
}

GstElement* TFilterGraph::Pipeline() const noexcept {
  return impl_->pipeline.get();
}

TCaptureGraphBuilder& TFilterGraph::CaptureGraphBuilder() {
  AssertMainThread();
  if (!impl_->builder)
    RaiseError("Interface not supported");
  return *impl_->builder;
}
