// Cameras that send no frames without saying so, driven through the window: a start held as
// pipewiresrc holds one, a camera gone quiet as one unplugged behind PipeWire does, and a slow
// camera and a paused graph, which are not cut off.
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

#include "platform/media/PipelineDriver.h"
#include "support/GraphFailures.h"
#include "support/MainWindowFixture.h"

namespace {

using harness::WaitFor;
using platform::StreamFailure;
using SilentCameraTest = MainWindowFixture;

TEST_F(SilentCameraTest, HeldStartKeepsTheWindowAnsweringAndEndsInOneBox) {
  Open();
  int ticks = 0;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
  ticker.start(50);
  TestCamSetCameras({{.width = 320, .height = 240, .startDelayMs = 8000}});
  window->btnGetVCap->click();
  window->cbVCap->setCurrentIndex(0);
  window->OpenPlay->click();
  EXPECT_EQ(window->FGVCap.State(), GraphState::Playing) << "a start under way reports its target";

  ASSERT_TRUE(WaitFor([&] { return !errors.empty(); }, 7000));
  EXPECT_TRUE(SaysFailure(errors[0], StreamFailure::NoFrames)) << errors[0];
  EXPECT_EQ(window->FGVCap.State(), GraphState::Stopped);
  // A loop held for the seconds until the box would have ticked once or twice.
  EXPECT_GE(ticks, 20) << "the window stopped answering";

  // A new start leaves the held pipeline behind; every one is let go once it has finished.
  window->OpenPlay->click();
  EXPECT_EQ(window->FGVCap.State(), GraphState::Playing);
  window.reset();
  EXPECT_TRUE(WaitFor([] { return platform::PipelinesBeingReleased() == 0; }, 20000));
  EXPECT_EQ(errors.size(), 1u);
}

TEST_F(SilentCameraTest, CameraGoneQuietIsOneLostDeviceBoxAndNothingIsSaved) {
  Open();
  window->edFileDir->setText(pictures);
  StartCamera({.width = 320, .height = 240, .failAfterFrames = 10, .end = "silent"});
  ASSERT_TRUE(WaitFor([&] { return !errors.empty(); }));
  EXPECT_TRUE(SaysFailure(errors[0], StreamFailure::NoFrames)) << errors[0];
  EXPECT_EQ(window->FGVCap.State(), GraphState::Stopped);
  QTest::mouseClick(window->btnGetPic, Qt::LeftButton);
  EXPECT_TRUE(QDir(pictures).entryList({"*.bmp"}).isEmpty());
  EXPECT_EQ(errors.size(), 1u);
}

TEST_F(SilentCameraTest, SlowCameraAndPausedGraphAreNotCutOff) {
  Open();
  StartCamera({.width = 320, .height = 240, .fps = 2});
  QTest::qWait(4000);
  window->btnPause->click();
  ASSERT_EQ(window->FGVCap.State(), GraphState::Paused);
  QTest::qWait(4000);
  window->btnPause->click();
  QTest::qWait(1000);
  EXPECT_EQ(window->FGVCap.State(), GraphState::Playing);
  EXPECT_TRUE(errors.empty()) << errors.front();
}

}  // namespace
