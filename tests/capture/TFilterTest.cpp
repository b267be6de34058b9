#include "capture/TFilter.h"

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <memory>

#include "TestCam.h"
#include "capture/TFilterGraph.h"
#include "capture/TSysDevEnum.h"
#include "platform/runtime/Error.h"
#include "support/ElementState.h"

namespace {

class TFilterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestCamSetCameras({TestCameraSpec{}});
    auto moniker = TSysDevEnum(CLSID_VideoInputDeviceCategory).MonikerAt(0);
    ASSERT_TRUE(moniker);
    filter_.BaseFilter().StoreMoniker(moniker.get());
  }
  void TearDown() override { TestCamSetCameras({}); }

  TFilter filter_{"Filter"};
};

TEST_F(TFilterTest, WithoutAMonikerThereIsNoFilterToConvert) {
  TFilter empty{"Filter"};
  EXPECT_EQ(empty.GetFilterName(), "Filter");
  for (auto operation : {FilterOperation::AboutToAdd, FilterOperation::Added,
                         FilterOperation::AboutToRemove, FilterOperation::Removed}) {
    empty.NotifyFilterOperation(operation, 0);
    EXPECT_EQ(empty.GetBaseFilter(), nullptr);
    EXPECT_THROW(BaseFilterOf(empty), EStillwickError);
  }
}

TEST_F(TFilterTest, BindsOnAboutToAddStopsARunningSourceAndReleasesOnRemoved) {
  filter_.NotifyFilterOperation(FilterOperation::AboutToAdd, 0);
  GstElement* element = filter_.GetBaseFilter();
  ASSERT_NE(element, nullptr);
  EXPECT_EQ(BaseFilterOf(filter_), element);
  auto watched = platform::GstRef<GstElement>::Retain(element);

  // A live source settles in PAUSED at once ("no preroll").
  ASSERT_EQ(gst_element_set_state(element, GST_STATE_PAUSED), GST_STATE_CHANGE_NO_PREROLL);
  filter_.NotifyFilterOperation(FilterOperation::AboutToRemove, 0);
  EXPECT_EQ(CurrentState(element), GST_STATE_READY);
  EXPECT_EQ(filter_.GetBaseFilter(), element) << "kept until Removed";

  filter_.NotifyFilterOperation(FilterOperation::Removed, 0);
  EXPECT_EQ(filter_.GetBaseFilter(), nullptr);
  EXPECT_EQ(GST_OBJECT_REFCOUNT_VALUE(watched.get()), 1) << "the component let go of it";
  gst_element_set_state(element, GST_STATE_NULL);
}

TEST_F(TFilterTest, JoinsTheGraphUnderItsNameWhileActive) {
  TFilterGraph graph("FGVCap");
  filter_.SetFilterGraph(&graph);
  EXPECT_EQ(filter_.FilterGraph(), &graph);
  graph.SetActive(true);
  ASSERT_NE(filter_.GetBaseFilter(), nullptr);
  auto child =
      platform::GstRef<GstElement>::Adopt(gst_bin_get_by_name(GST_BIN(graph.Pipeline()), "Filter"));
  EXPECT_EQ(child.get(), filter_.GetBaseFilter());
  child.reset();
  graph.SetActive(false);
  EXPECT_EQ(filter_.GetBaseFilter(), nullptr);
  filter_.SetFilterGraph(nullptr);
  EXPECT_EQ(filter_.FilterGraph(), nullptr);
}

TEST_F(TFilterTest, EitherMayBeDestroyedFirst) {
  {
    auto graph = std::make_unique<TFilterGraph>("FGVCap");
    filter_.SetFilterGraph(graph.get());
    graph->SetActive(true);
    graph.reset();
    EXPECT_EQ(filter_.FilterGraph(), nullptr);
    EXPECT_EQ(filter_.GetBaseFilter(), nullptr);
  }
  TFilterGraph graph("FGVCap");
  {
    auto filter = std::make_unique<TFilter>("Filter");
    filter->BaseFilter() = filter_.BaseFilter();
    filter->SetFilterGraph(&graph);
    graph.SetActive(true);
    ASSERT_NE(filter->GetBaseFilter(), nullptr);
    filter.reset();  // unlinks, taking its element out of the running graph
  }
  auto child =
      platform::GstRef<GstElement>::Adopt(gst_bin_get_by_name(GST_BIN(graph.Pipeline()), "Filter"));
  EXPECT_FALSE(child);
  graph.SetActive(false);
}

}  // namespace
