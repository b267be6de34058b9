// Single capture: "捕获单张图片" from the handler's entry until the picture file is renamed into
// place, with a 1920x1080 and a 3840x2160 frame in the display of a paused live camera, against
// a plain open()+write()+close() of the same bytes in the same folder: (a) under a new name and
// (b) over an existing file of that name. Before each timed capture the camera plays until a
// new frame has passed the grabber and is paused again, so every capture saves a frame never
// saved before (a save may convert its frame once and keep the result). The cases are
// interleaved, in turn leading, so disk noise falls on all of them. Goal: a 1080p
// capture under 10 ms; the ratios are shown without a goal.
#include <fcntl.h>
#include <gst/gst.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <functional>
#include <tuple>
#include <vector>

#include "Bench.h"
#include "HarnessFiles.h"
#include "capture/LinkedFilter.h"
#include "platform/media/GstRef.h"
#include "platform/picture/BmpFile.h"
#include "platform/runtime/ErrorBox.h"
#include "uMain.h"
#include "widgets/TSpinEdit.h"

namespace bench {
namespace {

constexpr double kGoalMs = 10;

// This bench with no conversion at a save, on the 2-core bench
// machine, 2026-12-08, with other work running: medians of three runs of the capture's median
// and of its ratio to the plain write.
struct Before {
  int width;
  double newMs, newRatio, overMs, overRatio;
};
constexpr Before kBefore[] = {
    {1920, 3.18, 1.33, 9.67, 1.41},
    {3840, 10.1, 0.69, 39.4, 1.61},
};

double PlainWrite(const std::string& path, const std::string& bytes) {
  const auto start = Clock::now();
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0)
    throw BenchError("cannot open " + path);
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      throw BenchError("cannot write " + path);
    done += static_cast<size_t>(n);
  }
  if (::close(fd) != 0)
    throw BenchError("cannot close " + path);
  return Ms(Clock::now() - start);
}

// Waits until the file's data is on the disk.
void Settle(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 || ::fsync(fd) != 0)
    throw BenchError("cannot flush " + path);
  ::close(fd);
}

GstPadProbeReturn CountFrame_Streaming(GstPad*, GstPadProbeInfo*, gpointer data) {
  static_cast<std::atomic<int>*>(data)->fetch_add(1, std::memory_order_relaxed);
  return GST_PAD_PROBE_OK;
}

// Plays the paused camera until a frame that arrived after the call has passed the grabber
// (two frames reach its input: the first has left the grabber when the second arrives), then
// pauses it again and lets the frame's paints land.
void FreshFrame(TFrmMain& window, const std::atomic<int>& grabberFrames) {
  window.btnPause->click();
  WaitFor([&] { return window.FGVCap.State() == GraphState::Playing; }, "the graph to play");
  const int seen = grabberFrames.load();
  WaitFor([&] { return grabberFrames.load() >= seen + 2; }, "a new frame");
  window.btnPause->click();
  WaitFor([&] { return window.FGVCap.State() == GraphState::Paused; }, "the graph to pause");
  Pump(30);
}

double Capture(TFrmMain& window) {
  double ms = -1;
  Guarded([&] {
    const auto start = Clock::now();
    window.btnGetPicClick();
    ms = Ms(Clock::now() - start);
  });
  if (ms < 0)
    throw BenchError("the capture failed");
  return ms;
}

void SingleCaptureBench(Context& context) {
  struct Size {
    int width, height, rounds;
  };
  const QString folder = context.scratch + "/capture";
  QDir().mkpath(folder);
  for (const Size size : {Size{1920, 1080, 20}, Size{3840, 2160, 12}}) {
    auto window = OpenWindow();
    TFrmMain& w = *window;
    w.edFileDir->setText(folder);
    w.edPreText->setText("bench-");
    w.spStartNum->SetValue(1);
    StartCamera(w, {.width = size.width, .height = size.height});
    std::atomic<int> grabberFrames{0};
    auto grabberIn = platform::GstRef<GstPad>::Adopt(
        gst_element_get_static_pad(BaseFilterOf(w.SampleGrabber), "sink"));
    if (!grabberIn)
      throw BenchError("grabber pad missing");
    const gulong probe = gst_pad_add_probe(grabberIn.get(), GST_PAD_PROBE_TYPE_BUFFER,
                                           CountFrame_Streaming, &grabberFrames, nullptr);
    w.btnPause->click();
    WaitFor([&] { return w.FGVCap.State() == GraphState::Paused; }, "the graph to pause");
    Pump(300);

    const std::string product = w.BuildPictureFileName(1);
    const std::string plain = (folder + "/plain-01.bmp").toStdString();
    Capture(w);
    const std::string bytes = harness::ReadFile(product);
    const size_t expected = 54 + static_cast<size_t>(size.width) * 3 * size.height;
    if (bytes.size() != expected)
      throw BenchError("the picture file has an unexpected size");

    std::vector<double> productNew, productOver, plainNew, plainOver, writerNew;
    const std::string writer = (folder + "/writer-01.bmp").toStdString();
    // Each case first writes under a new name, then, once that file has reached the disk (as
    // an older picture would have), over it. The removals and the flush are not timed.
    const std::function<void()> steps[] = {
        [&] {
          ::unlink(product.c_str());
          FreshFrame(w, grabberFrames);
          productNew.push_back(Capture(w));
          Settle(product);
          FreshFrame(w, grabberFrames);
          productOver.push_back(Capture(w));
        },
        [&] {
          ::unlink(plain.c_str());
          plainNew.push_back(PlainWrite(plain, bytes));
          Settle(plain);
          plainOver.push_back(PlainWrite(plain, bytes));
        },
        // The file writer alone, for telling its share from the handler's.
        [&] {
          ::unlink(writer.c_str());
          TBitmap::Ref picture = w.Picture.Snapshot();
          picture->ComputeFramePixels();  // outside the timing: a newer frame may have come
          const auto start = Clock::now();
          platform::WriteBmpFile(writer, *picture);
          writerNew.push_back(Ms(Clock::now() - start));
        },
    };
    const int warmUp = 2;
    for (int round = 0; round < warmUp + size.rounds; ++round) {
      for (size_t i = 0; i < std::size(steps); ++i)
        steps[(static_cast<size_t>(round) + i) % std::size(steps)]();
      QCoreApplication::processEvents();
      if (round + 1 == warmUp) {
        for (auto* times : {&productNew, &productOver, &plainNew, &plainOver, &writerNew})
          times->clear();
      }
    }
    gst_pad_remove_probe(grabberIn.get(), probe);
    window.reset();
    ::unlink(product.c_str());
    ::unlink(plain.c_str());
    ::unlink(writer.c_str());

    const std::string name = Format("single capture %dx%d", size.width, size.height);
    Report& report = context.report;
    for (const auto& [which, captures, writes] : {std::tuple{"new", &productNew, &plainNew},
                                                  std::tuple{"over", &productOver, &plainOver}}) {
      const double figure = Median(*captures);
      const double baseline = Median(*writes);
      const std::string ratio = Format("%.2fx", figure / baseline);
      if (size.width == 1920) {
        report.Row(name + " " + which, FormatMs(figure), FormatMs(baseline), ratio,
                   Format("<%.0f ms", kGoalMs), figure < kGoalMs);
      } else {
        report.Info(name + " " + which, FormatMs(figure), FormatMs(baseline), ratio);
      }
    }
    report.Info("  of which the BMP writer, new", FormatMs(Median(writerNew)),
                FormatMs(Median(plainNew)), Format("%.2fx", Median(writerNew) / Median(plainNew)));
    for (const Before& before : kBefore) {
      if (before.width == size.width) {
        report.Note(Format("no conversion at a save: %s new (%.2fx), %s over (%.2fx)",
                           FormatMs(before.newMs).c_str(), before.newRatio,
                           FormatMs(before.overMs).c_str(), before.overRatio));
      }
    }
  }
}

const GroupRegistration registration{40, "capture", SingleCaptureBench};

}  // namespace
}  // namespace bench
