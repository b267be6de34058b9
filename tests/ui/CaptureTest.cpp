// Live capture through the main window's handlers, against the test cameras.
#include <QCheckBox>
#include <QListWidget>
#include <QPushButton>

#include <QLineEdit>

#include "TPanel.h"
#include "support/MainWindowFixture.h"

namespace {

using CaptureTest = MainWindowFixture;

TestCameraSpec Camera(int width = 320, int height = 240, const char* format = "BGR") {
  TestCameraSpec camera;
  camera.name = "Bench Cam";
  camera.width = width;
  camera.height = height;
  camera.format = format;
  camera.fps = 30;
  return camera;
}

// The colour-bar picture: light grey bar at the top left, dark blue band at the bottom left.
void ExpectUprightBars(const Dib& dib) {
  const uint8_t* top = dib.ScanLine(0);
  const uint8_t* bottom = dib.ScanLine(dib.Height() - 1);
  EXPECT_GT(top[0] + top[1] + top[2], 3 * 150) << "top-left is not the light bar";
  EXPECT_LT(bottom[0] + bottom[1] + bottom[2], 3 * 110) << "bottom-left is not the dark band";
  const uint8_t* lastPixel = top + 3 * (dib.Width() - 1);
  EXPECT_LT(lastPixel[1], 60) << "top-right is not the blue bar";  // blue: little green
  EXPECT_GT(lastPixel[0], 150);
}

TEST_F(CaptureTest, FramesOfOddWidthArriveWholeAndUprightInTheDisplay) {
  Open();
  EXPECT_EQ(window->FGVCap.State(), GraphState::Uninitialized);
  StartCamera(Camera(321, 241, "YUY2"));
  EXPECT_TRUE(window->btnGetPic->isEnabled());
  EXPECT_TRUE(window->btnGetMorePic->isEnabled());
  EXPECT_TRUE(window->lstFn->hasFocus());
  TBitmap::Ref picture = window->Picture.Snapshot();
  ASSERT_TRUE(picture);
  EXPECT_EQ(picture->Width(), 321);
  EXPECT_EQ(picture->Height(), 241);
  ExpectUprightBars(*picture);
  EXPECT_TRUE(errors.empty());
}

TEST_F(CaptureTest, MjpegCameraIsDecodedIntoTheDisplay) {
  Open();
  StartCamera(Camera(640, 480, "MJPEG"));
  TBitmap::Ref picture = window->Picture.Snapshot();
  ASSERT_TRUE(picture);
  ExpectUprightBars(*picture);
}

TEST_F(CaptureTest, PauseAndResumeKeepTheirCaptionsAcrossARestart) {
  Open();
  StartCamera(Camera());
  QTest::mouseClick(window->btnPause, Qt::LeftButton);
  ASSERT_TRUE(WaitFor([&] { return window->FGVCap.State() == GraphState::Paused; }));
  EXPECT_EQ(window->btnPause->text(), "继续");

  // A new start plays, and the pause button keeps the caption it had.
  QTest::mouseClick(window->OpenPlay, Qt::LeftButton);
  ASSERT_TRUE(WaitFor([&] { return window->FGVCap.State() == GraphState::Playing; }));
  EXPECT_EQ(window->btnPause->text(), "继续");
  QTest::mouseClick(window->btnPause, Qt::LeftButton);
  ASSERT_TRUE(WaitFor([&] { return window->FGVCap.State() == GraphState::Paused; }));
  EXPECT_EQ(window->btnPause->text(), "继续");
  QTest::mouseClick(window->btnPause, Qt::LeftButton);
  ASSERT_TRUE(WaitFor([&] { return window->FGVCap.State() == GraphState::Playing; }));
  EXPECT_EQ(window->btnPause->text(), "暂停");
  EXPECT_TRUE(errors.empty());
}

TEST_F(CaptureTest, UntickingSynchronousDisplayFreezesThePicture) {
  Open();
  StartCamera(Camera());
  window->CallBack->setChecked(false);
  const Dib* frozen = window->Picture.Snapshot().get();
  // Frames keep flowing (the grabber still sees them) while the picture stays.
  QTest::qWait(300);
  EXPECT_EQ(window->Picture.Snapshot().get(), frozen);
  window->CallBack->setChecked(true);
  EXPECT_TRUE(WaitFor([&] { return window->Picture.Snapshot().get() != frozen; }));
}

TEST_F(CaptureTest, PreviewShowsTheVideoOverItsControl) {
  Open();
  TestCameraSpec camera = Camera();
  camera.pattern = "white";
  StartCamera(camera);
  const QRect area = window->VWCap->geometry();
  ASSERT_TRUE(WaitFor([&] {
    const QImage shot = window->Panel4->grab().toImage();
    return qGray(shot.pixel(area.center())) > 200;
  }));
  const QImage shot = window->Panel4->grab().toImage();
  EXPECT_GT(qGray(shot.pixel(area.topLeft() + QPoint(2, 2))), 200);
  EXPECT_GT(qGray(shot.pixel(area.bottomRight() - QPoint(2, 2))), 200);
  // Outside the control (the panel's bevel) is not video.
  EXPECT_LT(qGray(shot.pixel(0, 0)), 200);
}

TEST_F(CaptureTest, DeviceThatCannotBeBoundEndsTheStartWithAnError) {
  Open();
  TestCamSetCameras({Camera()});
  QTest::mouseClick(window->btnGetVCap, Qt::LeftButton);
  window->cbVCap->setCurrentIndex(0);
  TestCamSetCameras({});  // unplugged between listing and start
  window->lstFn->addItem("kept");
  QTest::mouseClick(window->OpenPlay, Qt::LeftButton);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], "Interface not supported.");
  EXPECT_EQ(window->lstFn->count(), 1);
  EXPECT_FALSE(window->btnGetPic->isEnabled());
  EXPECT_TRUE(window->FGVCap.Active());
  EXPECT_EQ(window->FGVCap.State(), GraphState::Stopped);
}

TEST_F(CaptureTest, LostDeviceStopsCaptureAndIsReportedOnce) {
  Open();
  TestCameraSpec camera = Camera();
  camera.failAfterFrames = 5;
  StartCamera(camera);
  ASSERT_TRUE(WaitFor([&] { return !errors.empty(); }));
  EXPECT_TRUE(WaitFor([&] { return window->FGVCap.State() == GraphState::Stopped; }));
  QTest::qWait(200);
  EXPECT_EQ(errors.size(), 1u);
  // Nothing stale is saved as if it were live.
  window->edFileDir->setText(dir.path());
  QTest::mouseClick(window->btnGetPic, Qt::LeftButton);
  EXPECT_EQ(window->lstFn->count(), 0);
  EXPECT_TRUE(QDir(dir.path()).entryList({"*.bmp"}).isEmpty());
}

TEST_F(CaptureTest, ClosingWhileStreamingTearsTheGraphDown) {
  Open();
  StartCamera(Camera(1280, 720, "YUY2"));
  window->close();
  EXPECT_FALSE(window->CallBack->isChecked());
  EXPECT_FALSE(window->FGVCap.Active());
  EXPECT_EQ(window->FGVCap.State(), GraphState::Uninitialized);
  window.reset();
  EXPECT_TRUE(errors.empty());
}

}  // namespace
