// Frames pass as the camera delivers them and are converted only where they are shown and when
// they are saved. Checked through the main window against the per-frame conversion the
// pipeline ran before (videoconvert to BGR in front of the grabber, kept here as the reference)
// and the painting of its full picture: the files a save writes, what the display area and the
// preview show, and the rules by which the display picture stands still.
#include <gst/gst.h>
#include <gst/video/video.h>

#include <QCheckBox>
#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>

#include <algorithm>
#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "platform/media/VideoFrame.h"
#include "platform/media/VideoRendererSurface.h"
#include "platform/picture/BmpFile.h"
#include "support/ElementState.h"
#include "support/MainWindowFixture.h"
#include "support/Videoconvert.h"
#include "widgets/TImage.h"
#include "widgets/TPanel.h"
#include "widgets/TSpinEdit.h"

namespace {

using harness::WaitFor;
using platform::VideoFrame;

// A BGR picture, top row first, rows padded to 4 bytes with zeros.
struct Bgr {
  int width = 0;
  int height = 0;
  size_t stride = 0;
  std::vector<uint8_t> bytes;
  const uint8_t* Pixel(int x, int y) const {
    return bytes.data() + static_cast<size_t>(y) * stride + std::ptrdiff_t{3} * x;
  }
};

// The former per-frame conversion: the frame through videoconvert to BGR, as the pipeline
// builder put it in front of the grabber (n-threads=2), and the rows copied into DIB rows.
// `threads` 1 gives the same converter on one thread, which differs in a few rows of 4:2:0 frames
// (NV12, NV21): GStreamer 1.22 interpolates chroma between rows differently when it splits a frame.
Bgr PerFrameConversion(const VideoFrame& frame, int threads = 2) {
  Bgr result{frame.Width(), frame.Height(), (static_cast<size_t>(frame.Width()) * 3 + 3) / 4 * 4,
             Videoconvert(frame, "BGR", 3, threads)};
  if (result.bytes.empty())
    result.width = result.height = 0;
  return result;
}

template <typename T>
void Put(std::string& out, T value) {
  out.append(reinterpret_cast<const char*>(&value), sizeof(T));
}

// The BMP file of a 24-bit picture as the writer made it of the per-frame conversion's
// pictures: file header, 40-byte info header, rows bottom first.
std::string BmpFileOf(const Bgr& picture) {
  const uint32_t imageSize = static_cast<uint32_t>(picture.bytes.size());
  std::string file;
  Put<uint16_t>(file, 0x4D42);
  Put<uint32_t>(file, 54 + imageSize);
  Put<uint32_t>(file, 0);
  Put<uint32_t>(file, 54);
  Put<uint32_t>(file, 40);
  Put<int32_t>(file, picture.width);
  Put<int32_t>(file, picture.height);
  Put<uint16_t>(file, 1);
  Put<uint16_t>(file, 24);
  Put<uint32_t>(file, 0);
  Put<uint32_t>(file, imageSize);
  for (int i = 0; i < 4; ++i)
    Put<uint32_t>(file, 0);
  for (int y = picture.height - 1; y >= 0; --y) {
    file.append(reinterpret_cast<const char*>(picture.bytes.data() + y * picture.stride),
                picture.stride);
  }
  return file;
}

// Where two files first differ, for the failure message.
std::string FirstDifference(const std::string& a, const std::string& b) {
  if (a.size() != b.size())
    return "sizes " + std::to_string(a.size()) + " and " + std::to_string(b.size());
  const auto at = std::mismatch(a.begin(), a.end(), b.begin());
  if (at.first == a.end())
    return "equal";
  return "first difference at byte " + std::to_string(at.first - a.begin());
}

// The former painting of a widget of `size`: the full BGR picture drawn over it without
// smoothing, as the display area and the renderer's window did.
QImage FullPicturePainting(const Bgr& picture, QSize size) {
  const QImage full(picture.bytes.data(), picture.width, picture.height,
                    static_cast<qsizetype>(picture.stride), QImage::Format_BGR888);
  QImage painted(size, QImage::Format_RGB32);
  QPainter painter(&painted);
  painter.drawImage(QRect(QPoint(), size), full);
  return painted;
}

// A small picture compared with the full picture's painting of the same frame.
struct Comparison {
  int maxDifference = 0;   // off the edge lines: against the full picture's painting
  int maxOnEdgeLines = 0;  // on them: against the nearer of the two frame pixels at the edge
  int edgeLines = 0;
  int lines = 0;            // columns and rows
  int rowsAsOneThread = 0;  // rows that match only the one-thread conversion
  QPoint worst;             // where maxDifference was found
};

// The frame pixels a pixel centre of the widget falls in: [first, last]. Where the centre lies
// on (or within a hundredth of a pixel after) an edge between two frame pixels, either may be
// taken: QPainter steps in fixed point and falls short of the edge, GStreamer's converter
// computes in floating point and lands on either side. Elsewhere both take the same pixel.
std::pair<int, int> FramePixels(int index, int shown, int frame) {
  const double centre = (2.0 * index + 1) * frame / (2.0 * shown);
  const int pixel = std::min(static_cast<int>(centre), frame - 1);
  if (centre - pixel < 0.01 && pixel > 0)
    return {pixel - 1, pixel};
  return {pixel, pixel};
}

int Difference(QRgb got, QRgb want) {
  return std::max({std::abs(qRed(got) - qRed(want)), std::abs(qGreen(got) - qGreen(want)),
                   std::abs(qBlue(got) - qBlue(want))});
}

int Difference(QRgb got, const uint8_t* bgr) {
  return std::max({std::abs(qBlue(got) - bgr[0]), std::abs(qGreen(got) - bgr[1]),
                   std::abs(qRed(got) - bgr[2])});
}

// Against the painting of `perFrame` (the frame converted as the pipeline did it), or, where
// that differs, of `oneThread` (the same conversion on one thread).
Comparison Compare(const QImage& grabbed, const Bgr& perFrame, const Bgr& oneThread) {
  const QImage painted = FullPicturePainting(perFrame, grabbed.size());
  const QImage paintedOneThread = FullPicturePainting(oneThread, grabbed.size());
  Comparison result;
  const int w = grabbed.width();
  const int h = grabbed.height();
  result.lines = w + h;
  std::vector<std::pair<int, int>> columns(static_cast<size_t>(w)), rows(static_cast<size_t>(h));
  for (int x = 0; x < w; ++x) {
    columns[x] = FramePixels(x, w, perFrame.width);
    result.edgeLines += columns[x].first != columns[x].second;
  }
  for (int y = 0; y < h; ++y) {
    rows[y] = FramePixels(y, h, perFrame.height);
    result.edgeLines += rows[y].first != rows[y].second;
  }
  for (int y = 0; y < h; ++y) {
    bool asOneThread = false;
    for (int x = 0; x < w; ++x) {
      const QRgb got = grabbed.pixel(x, y);
      const auto [x0, x1] = columns[x];
      const auto [y0, y1] = rows[y];
      if (x0 != x1 || y0 != y1) {
        int best = 255;
        for (const Bgr* picture : {&perFrame, &oneThread}) {
          for (int fy : {y0, y1}) {
            for (int fx : {x0, x1})
              best = std::min(best, Difference(got, picture->Pixel(fx, fy)));
          }
        }
        result.maxOnEdgeLines = std::max(result.maxOnEdgeLines, best);
        continue;
      }
      int difference = Difference(got, painted.pixel(x, y));
      if (difference > 2) {
        difference = std::min(difference, Difference(got, paintedOneThread.pixel(x, y)));
        asOneThread = asOneThread || difference <= 2;
      }
      if (difference > result.maxDifference) {
        result.maxDifference = difference;
        result.worst = QPoint(x, y);
      }
    }
    result.rowsAsOneThread += asOneThread;
  }
  return result;
}

// A painted picture as BGR rows.
Bgr BgrOf(const QImage& image) {
  const QImage rows = image.convertToFormat(QImage::Format_BGR888);
  Bgr result{rows.width(), rows.height(), static_cast<size_t>(rows.bytesPerLine()), {}};
  result.bytes.assign(rows.constBits(), rows.constBits() + rows.sizeInBytes());
  return result;
}

Comparison Compare(const QImage& grabbed, const VideoFrame& frame) {
  return Compare(grabbed, PerFrameConversion(frame), PerFrameConversion(frame, 1));
}

std::ostream& operator<<(std::ostream& out, const Comparison& c) {
  return out << "max " << c.maxDifference << " at (" << c.worst.x() << ", " << c.worst.y()
             << "), on " << c.edgeLines << " edge lines max " << c.maxOnEdgeLines << ", "
             << c.rowsAsOneThread << " rows as on one thread";
}

// Within 2 levels of the full picture's painting everywhere; the exceptions are single lines,
// a few.
void ExpectShownAsFullPicture(const Comparison& c) {
  EXPECT_LE(c.maxDifference, 2) << c;
  EXPECT_LE(c.maxOnEdgeLines, 2) << c;
  EXPECT_LE(c.edgeLines * 50, c.lines) << c;
  EXPECT_LE(c.rowsAsOneThread, 2) << c;
}

struct CameraCase {
  const char* format;
  int width;
  int height;
  GstVideoFormat delivered;  // at the grabber, after a decoder where one is needed
};

const CameraCase kCameraCases[] = {
    {"YUY2", 321, 241, GST_VIDEO_FORMAT_YUY2},   {"YUY2", 1366, 768, GST_VIDEO_FORMAT_YUY2},
    {"NV12", 321, 241, GST_VIDEO_FORMAT_NV12},   {"NV12", 1366, 768, GST_VIDEO_FORMAT_NV12},
    {"I420", 321, 241, GST_VIDEO_FORMAT_I420},   {"I420", 1366, 768, GST_VIDEO_FORMAT_I420},
    {"GRAY8", 321, 241, GST_VIDEO_FORMAT_GRAY8}, {"GRAY8", 1366, 768, GST_VIDEO_FORMAT_GRAY8},
    {"BGR", 321, 241, GST_VIDEO_FORMAT_BGR},     {"BGR", 1366, 768, GST_VIDEO_FORMAT_BGR},
    {"MJPEG", 321, 241, GST_VIDEO_FORMAT_I420},  {"MJPEG", 1366, 768, GST_VIDEO_FORMAT_I420},
};

std::string Name(const CameraCase& c) {
  return std::string(c.format) + " " + std::to_string(c.width) + "x" + std::to_string(c.height);
}

class FrameConversionTest : public MainWindowFixture {
 protected:
  // "捕获单张图片" with the start number `number`; the bytes of the file it wrote.
  std::string Save(int number) {
    window->spStartNum->SetValue(number);
    QTest::mouseClick(window->btnGetPic, Qt::LeftButton);
    return harness::ReadFile(window->BuildPictureFileName(number));
  }
  // Saves `from` and the two numbers after it write one file, the shown frame as the per-frame
  // conversion made it; `between` runs after the first.
  void ExpectSavesFrozen(int from, const std::function<void()>& between) {
    const std::string frozen = Save(from);
    between();
    EXPECT_TRUE(Save(from + 1) == frozen);
    EXPECT_TRUE(Save(from + 2) == frozen);
    EXPECT_TRUE(frozen == BmpFileOf(PerFrameConversion(ShownFrame())));
  }

  // The frame the display picture is, held.
  VideoFrame ShownFrame() {
    TBitmap::Ref picture = window->Picture.Snapshot();
    return picture && picture->Frame() ? *picture->Frame() : VideoFrame();
  }

  // "暂停", then waits until the pipeline has paused and what it posted has been handled.
  void Pause() {
    QTest::mouseClick(window->btnPause, Qt::LeftButton);
    ASSERT_TRUE(
        WaitFor([&] { return CurrentState(window->FGVCap.Pipeline()) == GST_STATE_PAUSED; }));
    ASSERT_TRUE(harness::WaitForPostedEvents());
  }

  // Waits until the display picture is another one than `shown`.
  bool NextPicture(const Dib* shown) {
    return WaitFor([&] { return window->Picture.Snapshot().get() != shown; }, 5000);
  }
};

TEST_F(FrameConversionTest, SavedFileIsTheFileThePerFrameConversionWrote) {
  Open();
  window->edFileDir->setText(pictures);
  for (const CameraCase& c : kCameraCases) {
    SCOPED_TRACE(Name(c));
    window->CallBack->setChecked(true);
    ASSERT_NO_FATAL_FAILURE(
        StartCamera({.width = c.width, .height = c.height, .format = c.format, .pattern = "ball"}));
    // Held still, so the file is of a frame known here.
    window->CallBack->setChecked(false);
    const VideoFrame frame = ShownFrame();
    ASSERT_TRUE(frame);
    EXPECT_EQ(GST_VIDEO_INFO_FORMAT(&frame.Info()), c.delivered);
    const std::string saved = Save(1);
    const Bgr reference = PerFrameConversion(frame);
    ASSERT_EQ(reference.width, c.width);
    const std::string expected = BmpFileOf(reference);
    EXPECT_TRUE(saved == expected) << FirstDifference(saved, expected);
  }
  EXPECT_TRUE(errors.empty());
}

TEST_F(FrameConversionTest, DisplayAndPreviewShowWhatTheFullPicturesPaintingShowed) {
  Open();
  for (const CameraCase& c : kCameraCases) {
    SCOPED_TRACE(Name(c));
    window->CallBack->setChecked(true);
    ASSERT_NO_FATAL_FAILURE(
        StartCamera({.width = c.width, .height = c.height, .format = c.format}));
    // Paused, so the preview stands on its last frame as the display stands on its own.
    ASSERT_NO_FATAL_FAILURE(Pause());

    const VideoFrame shown = ShownFrame();
    ASSERT_TRUE(shown);
    const QImage display = window->Image->grab().toImage();
    ExpectShownAsFullPicture(Compare(display, shown));

    platform::VideoRendererSurface* preview = Preview();
    ASSERT_NE(preview, nullptr);
    ASSERT_TRUE(preview->HasFrame());
    const VideoFrame previewed = preview->Frame();
    // Of the frame the display shows, the preview draws the display's picture: one more
    // nearest-pixel step.
    const QImage previewPicture = preview->grab().toImage();
    if (previewed.Buffer() == shown.Buffer()) {
      const Bgr displayPicture = BgrOf(display);
      const Comparison oneStep = Compare(previewPicture, displayPicture, displayPicture);
      EXPECT_LE(oneStep.maxDifference, 2) << oneStep;
      EXPECT_LE(oneStep.maxOnEdgeLines, 2) << oneStep;
    } else {
      ExpectShownAsFullPicture(Compare(previewPicture, previewed));
    }
    QTest::mouseClick(window->btnPause, Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return window->FGVCap.State() == GraphState::Playing; }));
  }
  EXPECT_TRUE(errors.empty());
}

TEST_F(FrameConversionTest, UntickedSynchronousDisplayFreezesWhatSavesWrite) {
  Open();
  window->edFileDir->setText(pictures);
  StartCamera({.pattern = "ball"});
  // Live, two saves a few frames apart differ: the ball moves.
  const std::string first = Save(1);
  ASSERT_TRUE(NextPicture(window->Picture.Snapshot().get()));
  ASSERT_TRUE(NextPicture(window->Picture.Snapshot().get()));
  EXPECT_TRUE(Save(2) != first);

  window->CallBack->setChecked(false);
  // Frames go on reaching the grabber and the preview, which draws them, not the frozen display.
  ExpectSavesFrozen(3, [&] { EXPECT_TRUE(WaitForPreviewFrames()); });
  platform::VideoRendererSurface* preview = Preview();
  ASSERT_TRUE(preview && preview->Frame().Buffer() != ShownFrame().Buffer());
  ExpectShownAsFullPicture(Compare(preview->grab().toImage(), preview->Frame()));
  EXPECT_TRUE(errors.empty());
}

TEST_F(FrameConversionTest, PauseFreezesWhatSavesWrite) {
  Open();
  window->edFileDir->setText(pictures);
  StartCamera({.format = "NV12", .pattern = "ball"});
  ASSERT_NO_FATAL_FAILURE(Pause());
  ASSERT_FALSE(Save(1).empty());
  // Paused, nothing comes that could be waited for: a camera that went on would have brought
  // frames in a few of its frame times.
  ExpectSavesFrozen(1, [] { QTest::qWait(300); });
  EXPECT_TRUE(errors.empty());
}

// However the graph stops (its device lost, capture started again, the window closed), none of
// the camera's buffers stays held, and the display keeps the last frame whole: shown as before,
// written as a save writes it, the frame as the per-frame conversion made it.
TEST_F(FrameConversionTest, StoppedGraphHoldsNoBufferAndKeepsTheLastFrameWhole) {
  Open();
  const TestCameraSpec camera{.name = "First", .pattern = "ball"};
  const TestCameraSpec other{.name = "Second"};
  const std::pair<const char*, std::function<void()>> stops[] = {
      {"device lost", [&] { TestCamSetCameras({other}); }},
      {"started again",
       [&] {
         window->cbVCap->setCurrentIndex(1);
         window->OpenPlay->click();
       }},
      {"closed", [&] { window->close(); }},
  };
  const std::string kept = QDir(pictures).filePath("kept.bmp").toStdString();
  for (const auto& [how, stop] : stops) {
    SCOPED_TRACE(how);
    TestCamSetCameras({camera, other});
    window->btnGetVCap->click();
    window->cbVCap->setCurrentIndex(0);
    window->CallBack->setChecked(true);
    const Dib* before = window->Picture.Snapshot().get();
    window->OpenPlay->click();
    ASSERT_TRUE(NextPicture(before));
    window->CallBack->setChecked(false);
    const std::string expected = BmpFileOf(PerFrameConversion(ShownFrame()));
    const QImage shown = window->Image->grab().toImage();
    EXPECT_GT(TestCamBuffersOut(camera.name), 0);
    stop();
    EXPECT_TRUE(WaitFor([&] { return TestCamBuffersOut(camera.name) == 0; }));
    ASSERT_TRUE(window->Picture.Snapshot()->ComputeFramePixels());
    platform::WriteBmpFile(kept, *window->Picture.Snapshot());
    EXPECT_TRUE(harness::ReadFile(kept) == expected);
    EXPECT_TRUE(window->Image->grab().toImage() == shown);
  }
  EXPECT_EQ(errors.size(), 1u);
}

// The frames let go of as a run of the graph ends are that run's: the same graph played again,
// whatever the end event of the run before said, shows its own.
TEST_F(FrameConversionTest, GraphPlayedAgainAfterALostRunShowsItsFrames) {
  Open();
  StartCamera({.pattern = "ball", .failAfterFrames = 10});
  ASSERT_TRUE(WaitFor([&] { return !errors.empty(); }));
  ASSERT_TRUE(harness::WaitForPostedEvents());
  ASSERT_EQ(window->FGVCap.State(), GraphState::Stopped);
  const Dib* before = window->Picture.Snapshot().get();
  ASSERT_TRUE(window->FGVCap.Play());
  EXPECT_TRUE(NextPicture(before));
}

}  // namespace
