// The graph component with stand-in components: a test camera as the source, a BGR-only caps
// filter in the grabber's place and a fake sink as the renderer.
#include <gst/gst.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "HarnessEventLoop.h"
#include "HarnessFiles.h"
#include "capture/TFilterGraph.h"
#include "platform/media/GraphRegistry.h"
#include "platform/media/Pipeline.h"
#include "platform/runtime/Error.h"
#include "platform/runtime/ErrorBox.h"
#include "support/ElementState.h"
#include "support/GraphFailures.h"

namespace {

using harness::WaitFor;
using platform::GstRef;

// Hands every message still on its way to the main thread to its receiver.
void DrainEvents() {
  for (int i = 0; i < 5; ++i)
    QCoreApplication::sendPostedEvents();
}

using Journal = std::vector<std::string>;

const char* OperationName(FilterOperation operation) {
  switch (operation) {
    case FilterOperation::AboutToAdd:
      return "AboutToAdd";
    case FilterOperation::Added:
      return "Added";
    case FilterOperation::AboutToRemove:
      return "AboutToRemove";
    case FilterOperation::Removed:
      return "Removed";
  }
  return "?";
}

// A linked component the way the real ones are built: its element exists from AboutToAdd to
// Removed, and it links and unlinks itself through its graph setter.
class FakeFilter : public ILinkedFilter, public IGraphFreeNotification {
 public:
  FakeFilter(std::string name, std::function<GstElement*()> make, Journal& journal)
      : name_(std::move(name)), make_(std::move(make)), journal_(journal) {}
  ~FakeFilter() override { SetFilterGraph(nullptr); }

  void SetFilterGraph(TFilterGraph* graph) {
    if (graph == graph_)
      return;
    if (graph_)
      graph_->UnlinkFilter(this);
    if (graph)
      graph->LinkFilter(this);
    graph_ = graph;
  }
  TFilterGraph* FilterGraph() const { return graph_; }

  GstElement* GetBaseFilter() override { return element_.get(); }
  std::string GetFilterName() override { return name_; }
  void NotifyFilterOperation(FilterOperation operation, int param) override {
    journal_.push_back(name_ + " " + OperationName(operation) + " " + std::to_string(param));
    if (operation == FilterOperation::AboutToAdd && make_) {
      element_ = GstRef<GstElement>::Adopt(make_());
    }
    if (operation == FilterOperation::Removed)
      element_.reset();
  }
  void GraphDestroyed(TFilterGraph&) noexcept override { graph_ = nullptr; }

 private:
  std::string name_;
  std::function<GstElement*()> make_;
  Journal& journal_;
  GstRef<GstElement> element_;
  TFilterGraph* graph_ = nullptr;
};

class Recorder : public IGraphListener {
 public:
  Recorder(TFilterGraph& graph, Journal& journal) : graph_(graph), journal_(journal) {}
  void GraphEventReceived(int code, intptr_t param1, intptr_t) override {
    codes.push_back(code);
    // Every event must come from the graph's current pipeline.
    auto* message = reinterpret_cast<GstMessage*>(param1);
    GstObject* source = GST_MESSAGE_SRC(message);
    if (!graph_.Pipeline() || !source ||
        (source != GST_OBJECT(graph_.Pipeline()) &&
         !gst_object_has_as_ancestor(source, GST_OBJECT(graph_.Pipeline())))) {
      ++foreign;
    }
  }
  void ControlEventReceived(ControlEvent event, int param) override {
    journal_.push_back("control " + std::to_string(static_cast<int>(event)) + " " +
                       std::to_string(param));
  }
  std::vector<int> codes;
  int foreign = 0;

 private:
  TFilterGraph& graph_;
  Journal& journal_;
};

// A 320x240 test camera with further "property=value" settings.
GstElement* MakeCamera(const std::vector<std::string>& settings) {
  GstElement* camera = gst_element_factory_make("stillwicktestcam", nullptr);
  g_object_set(camera, "width", 320, "height", 240, nullptr);
  for (const std::string& setting : settings) {
    const size_t equals = setting.find('=');
    gst_util_set_object_arg(G_OBJECT(camera), setting.substr(0, equals).c_str(),
                            setting.substr(equals + 1).c_str());
  }
  return camera;
}

GstElement* MakeBgrOnly() {
  GstElement* filter = gst_element_factory_make("capsfilter", nullptr);
  auto caps = GstRef<GstCaps>::Adopt(gst_caps_from_string("video/x-raw,format=BGR"));
  g_object_set(filter, "caps", caps.get(), nullptr);
  return filter;
}

GstElement* MakeSink() {
  return gst_element_factory_make("fakesink", nullptr);
}

std::set<std::string> ElementNames(GstElement* pipeline) {
  std::set<std::string> names;
  for (const auto& element : platform::Elements(pipeline)) {
    platform::GCharPtr name(gst_object_get_name(GST_OBJECT(element.get())));
    names.insert(name.get());
  }
  return names;
}

std::set<std::string> FactoryNames(GstElement* pipeline) {
  std::set<std::string> names;
  for (const auto& element : platform::Elements(pipeline)) {
    if (GstElementFactory* factory = gst_element_get_factory(element.get())) {
      names.insert(GST_OBJECT_NAME(factory));
    }
  }
  return names;
}

int LinkedPads(GstElement* pipeline) {
  int linked = 0;
  for (const auto& element : platform::Elements(pipeline)) {
    for (const auto& pad : platform::Pads(element.get()))
      linked += gst_pad_is_linked(pad.get());
  }
  return linked;
}

class TFilterGraphTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(runtime_.isValid());
    qputenv("XDG_RUNTIME_DIR", runtime_.path().toUtf8());
    SetErrorPresenter([this](const std::string& text) { errors_.push_back(text); });
    graph_.SetMode(TGraphMode::gmCapture);
    graph_.OnActivate = [this](TFilterGraph&) { journal_.push_back("OnActivate"); };
    graph_.LinkListener(&recorder_);
  }
  void TearDown() override {
    graph_.UnlinkListener(&recorder_);
    SetErrorPresenter(nullptr);
  }

  void LinkAll(const std::vector<std::string>& cameraSettings = {}) {
    source_ = std::make_unique<FakeFilter>(
        "Filter", [=] { return MakeCamera(cameraSettings); }, journal_);
    source_->SetFilterGraph(&graph_);
    grabber_.SetFilterGraph(&graph_);
    renderer_.SetFilterGraph(&graph_);
  }
  // The preview stream through the three components.
  HRESULT RenderStream() {
    return graph_.CaptureGraphBuilder().RenderStream(
        source_->GetBaseFilter(), grabber_.GetBaseFilter(), renderer_.GetBaseFilter());
  }
  // Activates, renders the preview stream and plays, the way the start button does.
  void StartCapture() {
    graph_.SetActive(true);
    ASSERT_EQ(RenderStream(), S_OK);
    ASSERT_TRUE(graph_.Play());
    ASSERT_TRUE(WaitFor([&] { return CurrentState(graph_.Pipeline()) == GST_STATE_PLAYING; }));
  }
  QStringList RegistryEntries() const {
    return QDir(runtime_.path() + "/stillwick").entryList(QDir::Files);
  }

  QTemporaryDir runtime_;
  std::vector<std::string> errors_;
  Journal journal_;
  std::unique_ptr<FakeFilter> source_;
  FakeFilter grabber_{"SampleGrabber", MakeBgrOnly, journal_};
  FakeFilter renderer_{"VWCap", MakeSink, journal_};
  // Declared after the components, so it is destroyed before them, as it may be in the window.
  TFilterGraph graph_{"FGVCap"};
  Recorder recorder_{graph_, journal_};
};

TEST_F(TFilterGraphTest, InactiveGraphRefusesControlAndSendsNothing) {
  LinkAll();
  EXPECT_EQ(graph_.State(), GraphState::Uninitialized);
  EXPECT_FALSE(graph_.Play());
  EXPECT_FALSE(graph_.Pause());
  EXPECT_FALSE(graph_.Stop());
  graph_.ResetGraph();
  graph_.DisconnectAllPins();
  EXPECT_TRUE(journal_.empty());
  EXPECT_EQ(graph_.Pipeline(), nullptr);
  EXPECT_THROW(graph_.CaptureGraphBuilder(), EStillwickError);
}

TEST_F(TFilterGraphTest, ActivationAddsFiltersInLinkOrderAndDeactivationRemovesThem) {
  FakeFilter empty{"Empty", nullptr, journal_};  // no filter: the graph passes over it
  LinkAll();
  empty.SetFilterGraph(&graph_);
  graph_.SetActive(true);
  EXPECT_EQ(journal_,
            (Journal{"Filter AboutToAdd 0", "Filter Added 0", "SampleGrabber AboutToAdd 0",
                     "SampleGrabber Added 0", "VWCap AboutToAdd 0", "VWCap Added 0",
                     "Empty AboutToAdd 0", "Empty Added 0", "OnActivate", "control 7 1"}));
  EXPECT_EQ(ElementNames(graph_.Pipeline()),
            (std::set<std::string>{"Filter", "SampleGrabber", "VWCap"}));
  EXPECT_EQ(graph_.State(), GraphState::Stopped);

  journal_.clear();
  graph_.SetActive(false);
  EXPECT_EQ(journal_, (Journal{"control 7 0", "Filter AboutToRemove 0", "Filter Removed 0",
                               "SampleGrabber AboutToRemove 0", "SampleGrabber Removed 0",
                               "VWCap AboutToRemove 0", "VWCap Removed 0", "Empty AboutToRemove 0",
                               "Empty Removed 0"}));
  EXPECT_EQ(graph_.State(), GraphState::Uninitialized);
  EXPECT_EQ(graph_.Pipeline(), nullptr);
}

TEST_F(TFilterGraphTest, LinkingWhileActiveAddsAndUnlinkingRemoves) {
  graph_.SetActive(true);
  LinkAll();
  EXPECT_EQ(ElementNames(graph_.Pipeline()),
            (std::set<std::string>{"Filter", "SampleGrabber", "VWCap"}));
  journal_.clear();
  source_.reset();  // its destructor unlinks it
  EXPECT_EQ(journal_, (Journal{"Filter AboutToRemove 0", "Filter Removed 0"}));
  EXPECT_EQ(ElementNames(graph_.Pipeline()), (std::set<std::string>{"SampleGrabber", "VWCap"}));
}

TEST_F(TFilterGraphTest, PlayPauseAndResetLeaveOnlyTheLinkedFiltersUnconnected) {
  LinkAll();
  ASSERT_NO_FATAL_FAILURE(StartCapture());
  EXPECT_EQ(graph_.State(), GraphState::Playing);
  // YUY2 reaches the BGR-only grabber through an inserted converter.
  EXPECT_TRUE(FactoryNames(graph_.Pipeline()).count("videoconvert"));
  EXPECT_NE(std::find(journal_.begin(), journal_.end(), "control 0 0"), journal_.end());

  EXPECT_TRUE(graph_.Pause());
  EXPECT_EQ(graph_.State(), GraphState::Paused);
  EXPECT_TRUE(graph_.Play());
  EXPECT_EQ(graph_.State(), GraphState::Playing);

  journal_.clear();
  graph_.ResetGraph();
  EXPECT_EQ(journal_, (Journal{"control 2 0"}));
  EXPECT_EQ(ElementNames(graph_.Pipeline()),
            (std::set<std::string>{"Filter", "SampleGrabber", "VWCap"}));
  EXPECT_EQ(LinkedPads(graph_.Pipeline()), 0);
  EXPECT_EQ(graph_.State(), GraphState::Stopped);
  EXPECT_TRUE(errors_.empty());
}

TEST_F(TFilterGraphTest, SecondStartKeepsNothingOfTheFirstGraph) {
  LinkAll();
  ASSERT_NO_FATAL_FAILURE(StartCapture());
  std::vector<std::unique_ptr<GWeakRef, void (*)(GWeakRef*)>> first;
  auto watch = [&](gpointer object) {
    first.emplace_back(new GWeakRef, [](GWeakRef* ref) {
      g_weak_ref_clear(ref);
      delete ref;
    });
    g_weak_ref_init(first.back().get(), object);
  };
  watch(graph_.Pipeline());
  for (const auto& element : platform::Elements(graph_.Pipeline()))
    watch(element.get());

  graph_.ResetGraph();
  graph_.SetActive(false);
  for (const auto& ref : first) {
    GObject* object = static_cast<GObject*>(g_weak_ref_get(ref.get()));
    EXPECT_EQ(object, nullptr) << "survived: " << (object ? G_OBJECT_TYPE_NAME(object) : "");
    if (object)
      g_object_unref(object);
  }

  // Messages the first graph posted just before it went must not reach the second one's
  // listeners.
  recorder_.codes.clear();
  ASSERT_NO_FATAL_FAILURE(StartCapture());
  DrainEvents();
  EXPECT_FALSE(recorder_.codes.empty());
  EXPECT_EQ(recorder_.foreign, 0);
}

TEST_F(TFilterGraphTest, RegistryHoldsOneEntryWhileActive) {
  LinkAll();
  graph_.SetGraphEdit(true);
  EXPECT_TRUE(RegistryEntries().isEmpty());
  // Left behind by a process that no longer exists (beyond any pid the kernel hands out).
  const std::string folder = runtime_.path().toStdString() + "/stillwick/";
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(folder)));
  ASSERT_TRUE(harness::WriteFile(folder + "FilterGraph 0000ABCD pid 7FFFFFFE.dot", ""));
  graph_.SetActive(true);
  const QString expected = QString::fromStdString(
      platform::GraphRegistry::EntryName(graph_.Pipeline(), static_cast<long>(getpid())));
  EXPECT_TRUE(QRegularExpression("^FilterGraph [0-9A-F]{8} pid [0-9A-F]+\\.dot$")
                  .match(expected)
                  .hasMatch());
  ASSERT_EQ(RegistryEntries(), QStringList{expected});
  const std::string entry = folder + expected.toStdString();
  const std::string stopped = harness::ReadFile(entry);
  EXPECT_EQ(stopped.rfind("digraph", 0), 0u);

  // Every state change of the pipeline rewrites it.
  ASSERT_EQ(RenderStream(), S_OK);
  ASSERT_TRUE(graph_.Play());
  EXPECT_TRUE(WaitFor([&] {
    const std::string now = harness::ReadFile(entry);
    return !now.empty() && now != stopped;
  }));

  graph_.SetGraphEdit(false);
  EXPECT_TRUE(RegistryEntries().isEmpty());
  graph_.SetGraphEdit(true);
  EXPECT_EQ(RegistryEntries().size(), 1);
  graph_.ResetGraph();
  graph_.SetActive(false);
  EXPECT_TRUE(RegistryEntries().isEmpty());
}

TEST_F(TFilterGraphTest, MissingElementLeavesTheGraphInactive) {
  LinkAll();
  GstRegistry* registry = gst_registry_get();
  for (const char* name : {"videoconvert", "jpegdec"}) {
    SCOPED_TRACE(name);
    // Out of the registry, the element is as good as not installed.
    GstPluginFeature* feature = gst_registry_lookup_feature(registry, name);
    ASSERT_NE(feature, nullptr);
    gst_registry_remove_feature(registry, feature);
    try {
      graph_.SetActive(true);
      ADD_FAILURE() << "activated without " << name;
    } catch (const EStillwickError& e) {
      EXPECT_NE(std::string(e.what()).find(std::string("\"") + name + "\""), std::string::npos)
          << e.what();
    }
    gst_registry_add_feature(registry, feature);
    gst_object_unref(feature);
    EXPECT_FALSE(graph_.Active());
    EXPECT_EQ(graph_.Pipeline(), nullptr);
    EXPECT_TRUE(journal_.empty());
    EXPECT_TRUE(RegistryEntries().isEmpty());
  }
  graph_.SetActive(true);
  EXPECT_TRUE(graph_.Active());
}

TEST_F(TFilterGraphTest, MjpegCameraIsDecodedToBgr) {
  LinkAll({"format=MJPEG"});
  ASSERT_NO_FATAL_FAILURE(StartCapture());
  EXPECT_TRUE(FactoryNames(graph_.Pipeline()).count("jpegdec"));
  auto pad = GstRef<GstPad>::Adopt(gst_element_get_static_pad(renderer_.GetBaseFilter(), "sink"));
  auto caps = GstRef<GstCaps>::Adopt(gst_pad_get_current_caps(pad.get()));
  ASSERT_TRUE(caps);
  EXPECT_STREQ(gst_structure_get_string(gst_caps_get_structure(caps.get(), 0), "format"), "BGR");
}

TEST_F(TFilterGraphTest, LostDeviceStopsTheGraphAndIsShownOnce) {
  LinkAll({"fail-after-frames=10"});
  graph_.SetActive(true);
  ASSERT_EQ(RenderStream(), S_OK);
  ASSERT_TRUE(graph_.Play());
  ASSERT_TRUE(WaitFor([&] { return graph_.State() == GraphState::Stopped; }));
  DrainEvents();
  EXPECT_NE(std::find(recorder_.codes.begin(), recorder_.codes.end(), EC_DEVICE_LOST),
            recorder_.codes.end());
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_NE(errors_[0].find("Device has been unplugged"), std::string::npos) << errors_[0];

  // The same graph failing again stops again, but is not shown again.
  auto failures = [&] {
    return std::count_if(recorder_.codes.begin(), recorder_.codes.end(),
                         [](int code) { return code == EC_DEVICE_LOST; });
  };
  const auto before = failures();
  graph_.Play();
  ASSERT_TRUE(WaitFor([&] { return failures() > before; }));
  EXPECT_EQ(graph_.State(), GraphState::Stopped);
  EXPECT_EQ(errors_.size(), 1u);
}

TEST_F(TFilterGraphTest, FailedStartReportsTheStateReachedAndOneCouldNotOpenBox) {
  struct Case {
    const char* openError;
    platform::StreamFailure failure;
  };
  for (const Case& c : {Case{"busy", platform::StreamFailure::DeviceBusy},
                        Case{"not-found", platform::StreamFailure::DeviceNotFound}}) {
    SCOPED_TRACE(c.openError);
    errors_.clear();
    recorder_.codes.clear();
    LinkAll({std::string("open-error=") + c.openError});
    graph_.SetActive(true);
    RenderStream();
    EXPECT_FALSE(graph_.Play());
    EXPECT_EQ(graph_.State(), GraphState::Stopped);
    EXPECT_FALSE(graph_.Pause());
    EXPECT_EQ(graph_.State(), GraphState::Stopped);
    ASSERT_TRUE(WaitFor([&] { return !errors_.empty(); }));
    DrainEvents();
    ASSERT_EQ(errors_.size(), 1u);
    EXPECT_TRUE(SaysFailure(errors_[0], c.failure)) << errors_[0];
    EXPECT_EQ(std::count(recorder_.codes.begin(), recorder_.codes.end(), EC_DEVICE_LOST), 0);
    graph_.ResetGraph();
    graph_.SetActive(false);
  }
}

TEST_F(TFilterGraphTest, DeviceGoneStopsTheGraphOnceAndNeitherStopNorResetReopensIt) {
  auto errorEvents = [&] {
    return std::count_if(recorder_.codes.begin(), recorder_.codes.end(),
                         [](int code) { return code == EC_ERRORABORT || code == EC_DEVICE_LOST; });
  };
  for (const char* end : {"error", "eos"}) {
    SCOPED_TRACE(end);
    errors_.clear();
    LinkAll({"fail-after-frames=5", std::string("end=") + end});
    graph_.SetActive(true);
    ASSERT_EQ(RenderStream(), S_OK);
    ASSERT_TRUE(graph_.Play());
    ASSERT_TRUE(WaitFor([&] { return !errors_.empty(); }));
    EXPECT_EQ(graph_.State(), GraphState::Stopped);
    EXPECT_TRUE(SaysFailure(errors_[0], end == std::string("eos")
                                            ? platform::StreamFailure::StreamEnded
                                            : platform::StreamFailure::DeviceLost))
        << errors_[0];

    // The device is gone for good: opening it again would fail, and be heard of.
    GstElement* source = source_->GetBaseFilter();
    g_object_set(source, "open-error", "not-found", nullptr);
    DrainEvents();
    const auto before = errorEvents();
    EXPECT_TRUE(graph_.Stop());
    EXPECT_EQ(CurrentState(source), GST_STATE_NULL);
    graph_.ResetGraph();
    DrainEvents();
    EXPECT_EQ(errorEvents(), before) << "the lost device was opened again";
    EXPECT_EQ(graph_.State(), GraphState::Stopped);
    EXPECT_EQ(errors_.size(), 1u);
    graph_.SetActive(false);
  }
}

TEST_F(TFilterGraphTest, LogFileRecordsThePipelineAndABadPathKeepsTheOldName) {
  LinkAll();
  const std::string log = (runtime_.path() + "/graph.log").toStdString();
  ASSERT_TRUE(harness::WriteFile(log, "left from before\n"));
  graph_.SetLogFile(log);
  ASSERT_NO_FATAL_FAILURE(StartCapture());
  std::string text;
  EXPECT_TRUE(WaitFor([&] {
    text = harness::ReadFile(log);
    return text.find("STATE FGVCap: PAUSED -> PLAYING") != std::string::npos;
  })) << text;
  EXPECT_EQ(text.find("left from before"), std::string::npos);

  EXPECT_NO_THROW(graph_.SetLogFile(runtime_.path().toStdString() + "/missing/graph.log"));
  EXPECT_EQ(graph_.LogFile(), log);
  EXPECT_TRUE(errors_.empty());
}

TEST_F(TFilterGraphTest, EitherMayBeDestroyedFirst) {
  Journal journal;
  FakeFilter component{"Filter", MakeSink, journal};
  {
    TFilterGraph graph;
    component.SetFilterGraph(&graph);
    graph.SetActive(true);
  }
  EXPECT_EQ(component.FilterGraph(), nullptr);
  EXPECT_EQ(journal.back(), "Filter Removed 0");

  TFilterGraph graph;
  {
    FakeFilter shortLived{"Short", MakeSink, journal};
    shortLived.SetFilterGraph(&graph);
    graph.SetActive(true);
  }
  EXPECT_TRUE(ElementNames(graph.Pipeline()).empty());
  EXPECT_EQ(journal.back(), "Short Removed 0");
}

// How long a playing graph may go without a frame before its device counts as lost.
TEST_F(TFilterGraphTest, FrameSilenceIsThreeSecondsOrFiveFrameIntervalsWhicheverIsLonger) {
  const struct {
    int fpsN;
    int fpsD;
    long long allowedMs;
  } cases[] = {
      {30, 1, 3000}, {2, 1, 3000},   // a 2 fps microscope camera: 2.5 s of intervals
      {1, 1, 5000},  {1, 4, 20000},  // slower than a frame in 3 s
      {0, 1, 3000},  {30, 0, 3000},  // rate not known
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FrameSilenceAllowed(c.fpsN, c.fpsD).count(), c.allowedMs) << c.fpsN << "/" << c.fpsD;
  }
}

}  // namespace
