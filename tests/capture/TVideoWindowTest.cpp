// The preview window: black until the graph plays, then the renderer's window lies exactly over
// it, follows it, hides with it and passes input on to it; clearing the graph brings the black
// control back.
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QTest>
#include <QWidget>

#include <memory>
#include <string>
#include <vector>

#include "HarnessEventLoop.h"
#include "capture/TFilterGraph.h"
#include "capture/TVideoWindow.h"
#include "platform/media/GstRef.h"
#include "platform/media/VideoRendererSurface.h"
#include "support/ElementState.h"

using platform::GstRef;
using platform::VideoRendererSurface;

namespace {

const QRect kControl(1, 1, 276, 187);
const QColor kPanelColour(128, 128, 128);

// Counts the input events that reach a widget.
class InputRecorder : public QObject {
 public:
  struct Seen {
    QEvent::Type type;
    QPoint position;  // mouse events only
    int key;          // key events only
  };
  std::vector<Seen> seen;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    switch (event->type()) {
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
        seen.push_back({event->type(), static_cast<QMouseEvent*>(event)->position().toPoint(), 0});
        break;
      case QEvent::KeyPress:
        seen.push_back({event->type(), {}, static_cast<QKeyEvent*>(event)->key()});
        break;
      default:
        break;
    }
    return false;
  }
};

bool Near(const QColor& a, const QColor& b) {
  return std::abs(a.red() - b.red()) <= 12 && std::abs(a.green() - b.green()) <= 12 &&
         std::abs(a.blue() - b.blue()) <= 12;
}

// Every window titled by a preview window, wherever it lives.
std::vector<QWidget*> RendererWindows() {
  std::vector<QWidget*> found;
  for (QWidget* widget : QApplication::allWidgets()) {
    if (widget->objectName() == VideoRendererSurface::kObjectName)
      found.push_back(widget);
  }
  return found;
}

class TVideoWindowTest : public ::testing::Test {
 protected:
  TVideoWindowTest() {
    panel_.resize(278, 189);
    QPalette palette = panel_.palette();
    palette.setColor(QPalette::Window, kPanelColour);
    panel_.setPalette(palette);
    panel_.setAutoFillBackground(true);
    vw_.setGeometry(kControl);
    panel_.show();
  }

  ~TVideoWindowTest() override {
    if (pipeline_)
      gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
  }

  // What the graph does when it becomes active, with a live red source linked by hand.
  void AddRenderer(bool link = true) {
    vw_.NotifyFilterOperation(FilterOperation::AboutToAdd, 0);
    GError* error = nullptr;
    pipeline_ = GstRef<GstElement>::Adopt(gst_parse_launch(
        "videotestsrc is-live=true pattern=red ! video/x-raw,width=320,height=240,framerate=30/1"
        " ! videoconvert name=conv",
        &error));
    platform::GErrorPtr owned(error);
    ASSERT_TRUE(pipeline_);
    ASSERT_NE(vw_.GetBaseFilter(), nullptr);
    gst_bin_add(GST_BIN(pipeline_.get()), vw_.GetBaseFilter());
    vw_.NotifyFilterOperation(FilterOperation::Added, 0);
    if (link) {
      auto conv = GstRef<GstElement>::Adopt(gst_bin_get_by_name(GST_BIN(pipeline_.get()), "conv"));
      ASSERT_TRUE(gst_element_link(conv.get(), vw_.GetBaseFilter()));
    }
  }

  // What the graph does on Play.
  void Play() {
    vw_.ControlEventReceived(ControlEvent::PlayRequested, 0);
    gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING);
  }

  // What the graph does when it becomes inactive.
  void RemoveRenderer() {
    vw_.NotifyFilterOperation(FilterOperation::AboutToRemove, 0);
    gst_element_set_state(vw_.GetBaseFilter(), GST_STATE_NULL);
    gst_bin_remove(GST_BIN(pipeline_.get()), vw_.GetBaseFilter());
    vw_.NotifyFilterOperation(FilterOperation::Removed, 0);
  }

  VideoRendererSurface* Surface() const {
    return qobject_cast<VideoRendererSurface*>(vw_.VideoHandle());
  }

  bool WaitForFrame() const {
    return QTest::qWaitFor([this] { return Surface() && Surface()->HasFrame(); }, 5000);
  }

  QColor PanelPixel(QPoint at) { return panel_.grab().toImage().pixelColor(at); }

  QWidget panel_;
  TVideoWindow vw_{&panel_, "VWCap"};
  GstRef<GstElement> pipeline_;
};

}  // namespace

TEST_F(TVideoWindowTest, ShowsTheVideoExactlyOverItselfWhilePlaying) {
  EXPECT_EQ(vw_.VideoHandle(), &vw_);
  EXPECT_EQ(PanelPixel(kControl.center()), QColor(Qt::black));

  AddRenderer();
  // Not placed before the graph plays.
  EXPECT_EQ(vw_.VideoHandle(), &vw_);
  Play();
  ASSERT_NE(Surface(), nullptr);
  EXPECT_EQ(Surface()->parentWidget(), &panel_);
  EXPECT_EQ(Surface()->geometry(), kControl);
  EXPECT_EQ(Surface()->windowTitle(), "VWCap");

  ASSERT_TRUE(WaitForFrame());
  for (const QPoint at : {kControl.topLeft(), kControl.center(), kControl.bottomRight()})
    EXPECT_TRUE(Near(PanelPixel(at), Qt::red)) << at.x() << "," << at.y();
  for (const QPoint at : {QPoint(0, 0), QPoint(277, 188)})
    EXPECT_EQ(PanelPixel(at), kPanelColour) << at.x() << "," << at.y();

  // A live source sends nothing while paused: the last frame stays.
  gst_element_set_state(pipeline_.get(), GST_STATE_PAUSED);
  ASSERT_TRUE(harness::WaitFor([&] { return CurrentState(pipeline_.get()) == GST_STATE_PAUSED; }));
  ASSERT_TRUE(harness::WaitForPostedEvents());
  EXPECT_TRUE(Near(PanelPixel(kControl.center()), Qt::red));

  // The video follows the control when it is resized or moved.
  vw_.setGeometry(10, 20, 100, 50);
  EXPECT_EQ(Surface()->geometry(), QRect(10, 20, 100, 50));
  vw_.move(5, 6);
  EXPECT_EQ(Surface()->geometry(), QRect(5, 6, 100, 50));

  // Hidden and shown with the control.
  vw_.hide();
  EXPECT_FALSE(Surface()->isVisible());
  EXPECT_EQ(PanelPixel({50, 30}), kPanelColour);
  vw_.show();
  EXPECT_TRUE(Surface()->isVisible());
  EXPECT_TRUE(Near(PanelPixel({50, 30}), Qt::red));
}

TEST_F(TVideoWindowTest, ClicksAndKeysOnTheVideoReachTheControl) {
  AddRenderer();
  Play();
  ASSERT_TRUE(WaitForFrame());
  InputRecorder recorder;
  vw_.installEventFilter(&recorder);
  QTest::mouseClick(Surface(), Qt::LeftButton, {}, QPoint(10, 20));
  QTest::keyClick(Surface(), Qt::Key_A);
  ASSERT_EQ(recorder.seen.size(), 3u);
  EXPECT_EQ(recorder.seen[0].type, QEvent::MouseButtonPress);
  EXPECT_EQ(recorder.seen[0].position, QPoint(10, 20));  // the video lies exactly over it
  EXPECT_EQ(recorder.seen[1].type, QEvent::MouseButtonRelease);
  EXPECT_EQ(recorder.seen[2].type, QEvent::KeyPress);
  EXPECT_EQ(recorder.seen[2].key, Qt::Key_A);
}

TEST_F(TVideoWindowTest, PlayWithoutAConnectedRendererPlacesNothing) {
  AddRenderer(/*link=*/false);
  vw_.ControlEventReceived(ControlEvent::PlayRequested, 0);
  EXPECT_EQ(vw_.VideoHandle(), &vw_);
  ASSERT_EQ(RendererWindows().size(), 1u);
  EXPECT_NE(RendererWindows()[0]->parentWidget(), &panel_);
  EXPECT_TRUE(RendererWindows()[0]->windowTitle().isEmpty());
  EXPECT_EQ(PanelPixel(kControl.center()), QColor(Qt::black));
}

TEST_F(TVideoWindowTest, GraphEventsPlaceOrTitleTheVideo) {
  struct Case {
    const char* what;
    int code;
    TVMRVideoMode vmrMode;
    bool link;
    bool placed;
    bool titled;
  };
  const Case cases[] = {
      {"palette change places, titles, drains", EC_PALETTE_CHANGED, TVMRVideoMode::vmrWindowed,
       true, true, true},
      {"palette change, nothing connected: titles only", EC_PALETTE_CHANGED,
       TVMRVideoMode::vmrWindowed, false, false, true},
      {"render device set, windowed: titles only", EC_VMR_RENDERDEVICE_SET,
       TVMRVideoMode::vmrWindowed, true, false, true},
      {"render device set, windowless: nothing", EC_VMR_RENDERDEVICE_SET,
       TVMRVideoMode::vmrWindowless, true, false, false},
      {"other events: nothing", EC_COMPLETE, TVMRVideoMode::vmrWindowed, true, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    vw_.VMROptions().SetMode(c.vmrMode);
    AddRenderer(c.link);
    vw_.GraphEventReceived(c.code, 0, 0);
    ASSERT_EQ(RendererWindows().size(), 1u);
    QWidget* window = RendererWindows()[0];
    EXPECT_EQ(window->parentWidget() == &panel_, c.placed);
    EXPECT_EQ(window->windowTitle() == "VWCap", c.titled);
    EXPECT_EQ(qobject_cast<VideoRendererSurface*>(window)->MessageDrain() == &vw_, c.titled);
    RemoveRenderer();
    gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
    pipeline_.reset();
  }
  // Without a renderer every event is ignored.
  vw_.GraphEventReceived(EC_PALETTE_CHANGED, 0, 0);
  EXPECT_TRUE(RendererWindows().empty());
}

TEST_F(TVideoWindowTest, VmrOptionsStoreStreamsOutsideOneToSixteenAsOne) {
  TVMROptions options;
  EXPECT_EQ(options.Streams(), 4u);
  for (const unsigned streams : {0u, 17u, 1000u}) {
    options.SetStreams(streams);
    EXPECT_EQ(options.Streams(), 1u) << streams;
  }
  options.SetStreams(16);
  EXPECT_EQ(options.Streams(), 16u);
}

namespace {

// A live red source as a linked component.
class RedSource : public ILinkedFilter {
 public:
  GstElement* GetBaseFilter() override { return element_.get(); }
  std::string GetFilterName() override { return "Filter"; }
  void NotifyFilterOperation(FilterOperation operation, int) override {
    if (operation == FilterOperation::AboutToAdd) {
      element_ = GstRef<GstElement>::Adopt(gst_parse_bin_from_description(
          "videotestsrc is-live=true pattern=red ! video/x-raw,width=320,height=240", TRUE,
          nullptr));
    } else if (operation == FilterOperation::Removed) {
      element_.reset();
    }
  }

 private:
  GstRef<GstElement> element_;
};

}  // namespace

TEST_F(TVideoWindowTest, PlaysThroughTheGraphAndSurvivesEitherDestructionOrder) {
  RedSource source;
  auto graph = std::make_unique<TFilterGraph>("FGVCap");
  graph->SetMode(TGraphMode::gmCapture);
  graph->LinkFilter(&source);
  vw_.SetFilterGraph(graph.get());
  auto start = [&] {
    graph->SetActive(true);
    graph->CaptureGraphBuilder().RenderStream(source.GetBaseFilter(), nullptr, vw_.GetBaseFilter());
    graph->Play();
  };

  start();
  ASSERT_NE(Surface(), nullptr);
  EXPECT_EQ(Surface()->geometry(), kControl);
  ASSERT_TRUE(WaitForFrame());
  EXPECT_TRUE(Near(PanelPixel(kControl.center()), Qt::red));

  // A start over: the graph is stripped and deactivated, the black control shows again.
  graph->ResetGraph();
  graph->SetActive(false);
  EXPECT_TRUE(RendererWindows().empty());
  EXPECT_EQ(PanelPixel(kControl.center()), QColor(Qt::black));

  // A second start creates a new renderer, placed at the next play.
  start();
  ASSERT_NE(Surface(), nullptr);
  EXPECT_EQ(Surface()->geometry(), kControl);
  ASSERT_TRUE(WaitForFrame());

  // A second preview window destroyed first takes its renderer out of the playing graph.
  {
    TVideoWindow second(&panel_, "VWCap2");
    second.SetFilterGraph(graph.get());
    auto added =
        GstRef<GstElement>::Adopt(gst_bin_get_by_name(GST_BIN(graph->Pipeline()), "VWCap2"));
    EXPECT_TRUE(added);
  }
  auto gone = GstRef<GstElement>::Adopt(gst_bin_get_by_name(GST_BIN(graph->Pipeline()), "VWCap2"));
  EXPECT_FALSE(gone);

  // The graph destroyed first, while playing: the window forgets it and turns black.
  graph.reset();
  EXPECT_EQ(vw_.FilterGraph(), nullptr);
  EXPECT_EQ(vw_.GetBaseFilter(), nullptr);
  EXPECT_TRUE(RendererWindows().empty());
  QCoreApplication::processEvents();
  EXPECT_EQ(PanelPixel(kControl.center()), QColor(Qt::black));
}
