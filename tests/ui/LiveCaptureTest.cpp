// Live capture through the main window's handlers, against the test cameras.
#include <gst/gst.h>

#include <QCheckBox>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

#include <QLineEdit>

#include "platform/media/GstRef.h"
#include "support/AllocationHooks.h"
#include "support/GraphFailures.h"
#include "support/MainWindowFixture.h"
#include "uFrmSelDir.h"
#include "widgets/TPanel.h"

namespace {

using harness::WaitFor;

using LiveCaptureTest = MainWindowFixture;

// The colour-bar picture, upright and whole: seven bars across the top two thirds (grey,
// yellow, cyan, green, magenta, red, blue), the light bar at the top left and a dark band at the
// bottom left. A monochrome camera gives the same bars in grey, darker from left to right.
void ExpectColourBars(const Dib& dib, bool grey = false) {
  struct Bgr {
    bool b, g, r;
  };
  const Bgr bars[] = {{1, 1, 1}, {0, 1, 1}, {1, 1, 0}, {0, 1, 0}, {1, 0, 1}, {0, 0, 1}, {1, 0, 0}};
  ASSERT_TRUE(dib.ComputeFramePixels());
  const uint8_t* row = dib.ScanLine(dib.Height() / 3);
  int lastLuma = 256 * 3;
  for (int i = 0; i < 7; ++i) {
    SCOPED_TRACE("bar " + std::to_string(i));
    const uint8_t* p = row + std::ptrdiff_t{3} * ((2 * i + 1) * dib.Width() / 14);
    if (grey) {
      EXPECT_TRUE(p[0] == p[1] && p[1] == p[2]) << +p[0] << " " << +p[1] << " " << +p[2];
      EXPECT_LT(p[0] + p[1] + p[2], lastLuma);
      lastLuma = p[0] + p[1] + p[2];
      continue;
    }
    for (int c = 0; c < 3; ++c) {
      const bool high = c == 0 ? bars[i].b : c == 1 ? bars[i].g : bars[i].r;
      EXPECT_TRUE(high ? p[c] > 140 : p[c] < 70) << "channel " << c << ": " << +p[c];
    }
  }
  const uint8_t* top = dib.ScanLine(0);
  const uint8_t* bottom = dib.ScanLine(dib.Height() - 1);
  EXPECT_GT(top[0] + top[1] + top[2], 3 * 150) << "top-left is not the light bar";
  EXPECT_LT(bottom[0] + bottom[1] + bottom[2], 3 * 110) << "bottom-left is not the dark band";
}

// What the source delivers: the media type, and the format of raw video.
std::string Delivered(GstElement* source) {
  auto pad = platform::GstRef<GstPad>::Adopt(gst_element_get_static_pad(source, "src"));
  auto caps = platform::GstRef<GstCaps>::Adopt(gst_pad_get_current_caps(pad.get()));
  if (!caps)
    return "nothing";
  const GstStructure* s = gst_caps_get_structure(caps.get(), 0);
  const char* format = gst_structure_get_string(s, "format");
  return std::string(gst_structure_get_name(s)) + (format ? std::string(" ") + format : "");
}

TEST_F(LiveCaptureTest, FramesOfOddWidthArriveWholeAndUprightInTheDisplay) {
  Open();
  EXPECT_EQ(window->FGVCap.State(), GraphState::Uninitialized);
  StartCamera({.width = 321, .height = 241});
  EXPECT_TRUE(window->btnGetPic->isEnabled());
  EXPECT_TRUE(window->btnGetMorePic->isEnabled());
  EXPECT_TRUE(window->lstFn->hasFocus());
  TBitmap::Ref picture = window->Picture.Snapshot();
  ASSERT_TRUE(picture);
  EXPECT_EQ(picture->Width(), 321);
  EXPECT_EQ(picture->Height(), 241);
  ExpectColourBars(*picture);
  EXPECT_TRUE(errors.empty());
}

TEST_F(LiveCaptureTest, MjpegCameraIsDecodedIntoTheDisplay) {
  Open();
  StartCamera({.format = "MJPEG"});
  TBitmap::Ref picture = window->Picture.Snapshot();
  ASSERT_TRUE(picture);
  ExpectColourBars(*picture);
}

TEST_F(LiveCaptureTest, CameraGivesItsLargestModeUprightInItsColours) {
  struct Case {
    const char* what;
    const char* profile;  // nullptr: the one mode below
    const char* format;
    QSize size;
    std::string delivered;
    bool grey;
  };
  const Case cases[] = {
      {"webcam: full size only at full rate through MJPEG",
       "usb-webcam",
       "",
       {1920, 1080},
       "image/jpeg",
       false},
      {"microscope: YUY2 only, 2 a second at full size",
       "microscope",
       "",
       {2592, 1944},
       "video/x-raw YUY2",
       false},
      {"monochrome", "monochrome", "", {1280, 960}, "video/x-raw GRAY8", true},
      {"NV12 at a laptop panel's size", nullptr, "NV12", {1366, 768}, "video/x-raw NV12", false},
      {"I420 of odd size", nullptr, "I420", {321, 241}, "video/x-raw I420", false},
  };
  Open();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const TestCameraSpec camera{.width = c.size.width(),
                                .height = c.size.height(),
                                .format = c.format,
                                .modes = c.profile ? TestCamProfileModes(c.profile) : ""};
    ASSERT_NO_FATAL_FAILURE(StartCamera(camera, c.size));
    EXPECT_EQ(Delivered(BaseFilterOf(window->Filter)), c.delivered);
    TBitmap::Ref picture = window->Picture.Snapshot();
    ASSERT_TRUE(picture);
    ExpectColourBars(*picture, c.grey);
  }
  EXPECT_TRUE(errors.empty());
}

TEST_F(LiveCaptureTest, PauseAndResumeKeepTheirCaptionsAcrossARestart) {
  Open();
  StartCamera(TestCameraSpec{});
  // A new start plays, and the pause button keeps the caption it had.
  const struct {
    QPushButton* button;
    GraphState reached;
    QString caption;
  } steps[] = {{window->btnPause, GraphState::Paused, "继续"},
               {window->OpenPlay, GraphState::Playing, "继续"},
               {window->btnPause, GraphState::Paused, "继续"},
               {window->btnPause, GraphState::Playing, "暂停"}};
  for (const auto& step : steps) {
    QTest::mouseClick(step.button, Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return window->FGVCap.State() == step.reached; }));
    EXPECT_EQ(window->btnPause->text(), step.caption);
  }
  EXPECT_TRUE(errors.empty());
}

TEST_F(LiveCaptureTest, UntickingSynchronousDisplayFreezesThePicture) {
  Open();
  StartCamera(TestCameraSpec{});
  window->CallBack->setChecked(false);
  const Dib* frozen = window->Picture.Snapshot().get();
  // Frames keep flowing (the grabber still sees them) while the picture stays.
  ASSERT_TRUE(WaitForPreviewFrames());
  EXPECT_EQ(window->Picture.Snapshot().get(), frozen);
  window->CallBack->setChecked(true);
  EXPECT_TRUE(WaitFor([&] { return window->Picture.Snapshot().get() != frozen; }));
}

TEST_F(LiveCaptureTest, StreamingMakesNoPixelMemoryAndSavesRecycleIt) {
  Open();
  window->edFileDir->setText(dir.path());
  StartCamera({.width = 320, .height = 240});
  const size_t pictureBytes = std::size_t{320} * 3 * 240;
  const int before = ArrayAllocationsCounted();
  CountArrayAllocations(pictureBytes);
  // Frames become the display picture without a pixel of it being made.
  for (int i = 0; i < 10; ++i) {
    const Dib* shown = window->Picture.Snapshot().get();
    ASSERT_TRUE(WaitFor([&] { return window->Picture.Snapshot().get() != shown; }));
  }
  EXPECT_EQ(ArrayAllocationsCounted(), before);
  // Each save makes the pixels of its frame, in the memory of a picture shown before.
  for (int i = 0; i < 20; ++i) {
    const Dib* shown = window->Picture.Snapshot().get();
    ASSERT_TRUE(WaitFor([&] { return window->Picture.Snapshot().get() != shown; }));
    QTest::mouseClick(window->btnGetPic, Qt::LeftButton);
  }
  CountArrayAllocations(0);
  EXPECT_LE(ArrayAllocationsCounted() - before, 4);  // the picture on show and three retired
  EXPECT_TRUE(errors.empty());
}

TEST_F(LiveCaptureTest, PreviewShowsTheVideoOverItsControl) {
  Open();
  StartCamera({.pattern = "white"});
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

// The list's entry still names the device; opening it finds the node gone.
TEST_F(LiveCaptureTest, DeviceUnpluggedAfterListingIsOneCouldNotOpenBox) {
  Open();
  TestCamSetCameras({TestCameraSpec{}});
  QTest::mouseClick(window->btnGetVCap, Qt::LeftButton);
  window->cbVCap->setCurrentIndex(0);
  TestCamSetCameras({});  // unplugged between listing and start
  QTest::mouseClick(window->OpenPlay, Qt::LeftButton);
  ASSERT_TRUE(WaitFor([&] { return !errors.empty(); }));
  EXPECT_TRUE(SaysFailure(errors[0], platform::StreamFailure::DeviceNotFound)) << errors[0];
  EXPECT_TRUE(window->FGVCap.Active());
  EXPECT_EQ(window->FGVCap.State(), GraphState::Stopped);
  ASSERT_TRUE(harness::WaitForPostedEvents());
  EXPECT_EQ(errors.size(), 1u);
}

TEST_F(LiveCaptureTest, LostDeviceStopsCaptureAndIsReportedOnce) {
  Open();
  StartCamera({.failAfterFrames = 5});
  ASSERT_TRUE(WaitFor([&] { return !errors.empty(); }));
  EXPECT_TRUE(WaitFor([&] { return window->FGVCap.State() == GraphState::Stopped; }));
  // The graph has stopped: a second box would be among what it posted before.
  ASSERT_TRUE(harness::WaitForPostedEvents());
  EXPECT_EQ(errors.size(), 1u);
  // Nothing stale is saved as if it were live.
  window->edFileDir->setText(dir.path());
  QTest::mouseClick(window->btnGetPic, Qt::LeftButton);
  EXPECT_EQ(window->lstFn->count(), 0);
  EXPECT_TRUE(QDir(dir.path()).entryList({"*.bmp"}).isEmpty());
}

TEST_F(LiveCaptureTest, BusyOrMissingDeviceAtStartIsOneCouldNotOpenBox) {
  struct Case {
    const char* openError;
    platform::StreamFailure failure;
  };
  Open();
  window->edFileDir->setText(dir.path());
  for (const Case& c : {Case{"busy", platform::StreamFailure::DeviceBusy},
                        Case{"not-found", platform::StreamFailure::DeviceNotFound}}) {
    SCOPED_TRACE(c.openError);
    errors.clear();
    TestCamSetCameras({{.openError = c.openError}});
    QTest::mouseClick(window->btnGetVCap, Qt::LeftButton);
    window->cbVCap->setCurrentIndex(0);
    QTest::mouseClick(window->OpenPlay, Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return !errors.empty(); }));  // the box stopped the graph
    ASSERT_TRUE(harness::WaitForPostedEvents());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(SaysFailure(errors[0], c.failure)) << errors[0];
    EXPECT_EQ(window->FGVCap.State(), GraphState::Stopped);
    // As after any stopped graph: the buttons are there, and a capture writes nothing.
    EXPECT_TRUE(window->btnGetPic->isEnabled());
    EXPECT_EQ(window->btnPause->text(), "暂停");
    QTest::mouseClick(window->btnGetPic, Qt::LeftButton);
    EXPECT_TRUE(QDir(dir.path()).entryList({"*.bmp"}).isEmpty());
    EXPECT_EQ(errors.size(), 1u);
  }
}

TEST_F(LiveCaptureTest, DeviceGoneWhileStreamingIsOneBoxAndCapturesWriteNothing) {
  struct Case {
    const char* what;
    int failAfterFrames;
    const char* end;
    platform::StreamFailure failure;
  };
  Open();
  window->edFileDir->setText(dir.path());
  for (const Case& c :
       {Case{"removed from the device list", -1, "error", platform::StreamFailure::DeviceLost},
        Case{"ends its stream", 5, "eos", platform::StreamFailure::StreamEnded}}) {
    SCOPED_TRACE(c.what);
    errors.clear();
    StartCamera({.failAfterFrames = c.failAfterFrames, .end = c.end});
    if (c.failAfterFrames < 0)
      TestCamSetCameras({});
    ASSERT_TRUE(WaitFor([&] { return !errors.empty(); }));
    ASSERT_TRUE(harness::WaitForPostedEvents());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(SaysFailure(errors[0], c.failure)) << errors[0];
    EXPECT_EQ(window->FGVCap.State(), GraphState::Stopped);
    QTest::mouseClick(window->btnGetPic, Qt::LeftButton);
    EXPECT_TRUE(QDir(dir.path()).entryList({"*.bmp"}).isEmpty());
    EXPECT_EQ(errors.size(), 1u);
  }
}

TEST_F(LiveCaptureTest, LostDeviceBoxWaitsForTheModalWindowOpenAndComesOnce) {
  Open();
  StartCamera(TestCameraSpec{});
  // The folder chooser is open when the camera is unplugged.
  TFrmSelDir chooser(window.get(), [this] { return QStringList{dir.path()}; });
  FrmSelDir = &chooser;
  size_t whileOpen = 99;
  QTimer::singleShot(0, &chooser, [&] {
    TestCamSetCameras({});
    WaitFor([&] { return window->FGVCap.State() == GraphState::Stopped; });
    EXPECT_TRUE(harness::WaitForPostedEvents());
    whileOpen = errors.size();
    chooser.BtnUnLoadReady()->click();
  });
  QTest::mouseClick(window->btnAddDir, Qt::LeftButton);
  FrmSelDir = nullptr;
  EXPECT_EQ(whileOpen, 0u);
  ASSERT_TRUE(WaitFor([&] { return !errors.empty(); }));
  ASSERT_TRUE(harness::WaitForPostedEvents());
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_TRUE(SaysFailure(errors[0], platform::StreamFailure::DeviceLost)) << errors[0];

  // A box of a failed capture is open, and runs its own event loop, when the camera goes.
  errors.clear();
  int open = 0, deepest = 0;
  SetErrorPresenter([&](const std::string& text) {
    errors.push_back(text);
    deepest = std::max(deepest, ++open);
    if (errors.size() == 1) {
      TestCamSetCameras({});
      WaitFor([&] { return window->FGVCap.State() == GraphState::Stopped; });
      EXPECT_TRUE(harness::WaitForPostedEvents());
    }
    --open;
  });
  StartCamera(TestCameraSpec{});
  window->edFileDir->setText(dir.filePath("missing"));
  QTest::mouseClick(window->btnGetPic, Qt::LeftButton);
  ASSERT_TRUE(WaitFor([&] { return errors.size() == 2; }));
  ASSERT_TRUE(harness::WaitForPostedEvents());
  EXPECT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[0].find("Cannot create file"), 0u) << errors[0];
  EXPECT_TRUE(SaysFailure(errors[1], platform::StreamFailure::DeviceLost)) << errors[1];
  EXPECT_EQ(deepest, 1);
}

TEST_F(LiveCaptureTest, ClosingWhileStreamingTearsTheGraphDown) {
  Open();
  StartCamera({.width = 1280, .height = 720});
  window->close();
  EXPECT_FALSE(window->CallBack->isChecked());
  EXPECT_FALSE(window->FGVCap.Active());
  EXPECT_EQ(window->FGVCap.State(), GraphState::Uninitialized);
  window.reset();
  EXPECT_TRUE(errors.empty());
}

}  // namespace
