// Start: the time from "启动采集" to the first frame of the camera's largest mode painted in the
// display area, for the six-mode webcam profile (1920x1080 through MJPEG), against the least any
// program must do for that frame: the same camera held to that mode, decoded and converted to
// BGR (two converter threads, as the window's) in a pipeline of its own, from PLAYING to its
// first frame at the end. Runs alternate; medians.
#include <gst/gst.h>

#include <QEvent>
#include <QPushButton>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "Bench.h"
#include "platform/media/GstRef.h"
#include "uMain.h"
#include "widgets/TImage.h"

namespace bench {
namespace {

using platform::GstRef;

constexpr int kRuns = 11;
constexpr double kGoalMs = 500;

// Notes when the display area first paints a picture other than `before` of the given size.
class FirstPaint : public QObject {
 public:
  FirstPaint(TFrmMain& window, const Dib* before, int width, int height)
      : window_(window), before_(before), width_(width), height_(height) {
    window_.Image->installEventFilter(this);
  }
  ~FirstPaint() override { window_.Image->removeEventFilter(this); }
  bool Seen() const { return seen_; }
  Clock::time_point At() const { return at_; }

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (!seen_ && event->type() == QEvent::Paint) {
      TBitmap::Ref picture = window_.Picture.Snapshot();
      if (picture && picture.get() != before_ && picture->Width() == width_ &&
          picture->Height() == height_) {
        seen_ = true;
        at_ = Clock::now();
      }
    }
    return false;
  }

 private:
  TFrmMain& window_;
  const Dib* before_;
  int width_, height_;
  bool seen_ = false;
  Clock::time_point at_;
};

// One start of the window, as the first of a session: no graph before it.
double WindowStart(TFrmMain& window, int width, int height) {
  window.FGVCap.ResetGraph();
  window.FGVCap.SetActive(false);
  Pump(100);
  FirstPaint paint(window, window.Picture.Snapshot().get(), width, height);
  const auto start = Clock::now();
  window.OpenPlay->click();
  WaitFor([&] { return paint.Seen(); }, Format("a %dx%d frame painted", width, height));
  return Ms(paint.At() - start);
}

// Streaming thread: notes when the first converted frame reaches the end of the pipeline
// (before the sink's own preroll, as the window's grabber sees frames before its renderer).
GstPadProbeReturn FirstFrame_Streaming(GstPad*, GstPadProbeInfo*, gpointer data) noexcept {
  auto& arrived = *static_cast<std::atomic<std::int64_t>*>(data);
  std::int64_t none = 0;
  arrived.compare_exchange_strong(none, Clock::now().time_since_epoch().count());
  return GST_PAD_PROBE_OK;
}

double PipelineStart(const TestCameraSpec& camera, const std::string& mode) {
  const std::string text =
      "stillwicktestcam modes=\"" + camera.modes + "\" ! " + mode +
      " ! jpegdec ! videoconvert n-threads=2 ! video/x-raw,format=BGR ! fakesink name=sink";
  GError* error = nullptr;
  auto pipeline = GstRef<GstElement>::Adopt(gst_parse_launch(text.c_str(), &error));
  platform::GErrorPtr owned(error);
  if (!pipeline || error)
    throw BenchError("cannot build the baseline pipeline: " + text);
  auto sink = GstRef<GstElement>::Adopt(gst_bin_get_by_name(GST_BIN(pipeline.get()), "sink"));
  auto pad = GstRef<GstPad>::Adopt(gst_element_get_static_pad(sink.get(), "sink"));
  std::atomic<std::int64_t> arrived{0};
  gst_pad_add_probe(pad.get(), GST_PAD_PROBE_TYPE_BUFFER, FirstFrame_Streaming, &arrived, nullptr);
  const auto start = Clock::now();
  gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
  while (arrived.load() == 0 && Clock::now() - start < std::chrono::seconds(20))
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  gst_element_set_state(pipeline.get(), GST_STATE_NULL);
  if (arrived.load() == 0)
    throw BenchError("the baseline pipeline gave no frame");
  return Ms(Clock::time_point(Clock::duration(arrived.load())) - start);
}

void StartBench(Context& context) {
  const TestCameraSpec camera{
      .name = "Webcam", .width = 1920, .height = 1080, .modes = TestCamProfileModes("usb-webcam")};
  const std::string mode = "image/jpeg,width=1920,height=1080,framerate=30/1";

  auto window = OpenWindow();
  StartCamera(*window, camera);  // lists and picks it; the first start warms the caches
  std::vector<double> starts, baselines;
  for (int run = 0; run < kRuns; ++run) {
    starts.push_back(WindowStart(*window, camera.width, camera.height));
    baselines.push_back(PipelineStart(camera, mode));
  }
  window.reset();

  const double figure = Median(starts);
  const double baseline = Median(baselines);
  context.report.Row("start to first frame, six-mode webcam", FormatMs(figure), FormatMs(baseline),
                     Format("%.2fx", figure / baseline), Format("<%.0f ms", kGoalMs),
                     figure < kGoalMs);
  context.report.Note(Format("starts %s .. %s; baseline: its mode, decoded to BGR, own pipeline",
                             FormatMs(Percentile(starts, 0)).c_str(),
                             FormatMs(Max(starts)).c_str()));
}

const GroupRegistration registration{15, "start", StartBench};

}  // namespace
}  // namespace bench
