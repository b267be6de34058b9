// Lock wait: the longest time the streaming thread waits for the display lock while single
// captures of a 3840x2160 picture run back to back on the main thread, against the same with
// the main thread only keeping the window up to date. The window's frame handler runs as ever,
// with the display lock taken just before it (the lock is re-entrant), so the wait is timed
// where the frame meets the lock.
#include <QCoreApplication>
#include <QDir>
#include <QLineEdit>

#include <mutex>
#include <utility>
#include <vector>

#include "Bench.h"
#include "platform/runtime/ErrorBox.h"
#include "uMain.h"
#include "widgets/TSpinEdit.h"

namespace bench {
namespace {

constexpr int kPhaseMs = 8000;

struct Waits {
  std::mutex lock;  // guards `ms`; streaming thread per frame, main thread between phases
  std::vector<double> ms;

  std::vector<double> Take() {
    std::lock_guard guard(lock);
    return std::exchange(ms, {});
  }
};

void ReportWaits(Context& context, const std::vector<double>& captures,
                 const std::vector<double>& idle, int pictures) {
  const double worst = Max(captures);
  context.report.Row("lock wait, 4K captures back to back", FormatMs(worst), FormatMs(Max(idle)),
                     Format("%.2fx", worst / Max(idle)), "<1 ms", worst < 1.0);
  context.report.Note(
      Format("%d captures, %zu frames; 99th percentile %s, median %s (idle: %s)", pictures,
             captures.size(), FormatMs(Percentile(captures, 0.99)).c_str(),
             FormatMs(Median(captures)).c_str(), FormatMs(Percentile(idle, 0.99)).c_str()));
}

void LockWaitBench(Context& context) {
  const QString folder = context.scratch + "/lockwait";
  QDir().mkpath(folder);
  Waits waits;  // outlives the window, whose frames record into it
  auto window = OpenWindow();
  TFrmMain& w = *window;
  w.edFileDir->setText(folder);
  w.edPreText->setText("wait-");
  StartCamera(w, {.width = 3840, .height = 2160});

  w.SampleGrabber.SetOnBuffer(
      [&](TSampleGrabber& sender, double time, const void* buffer, int32_t length) {
        const auto start = Clock::now();
        std::lock_guard displayLock(w.Picture);
        const double ms = Ms(Clock::now() - start);
        w.SampleGrabberBuffer(sender, time, buffer, length);
        std::lock_guard guard(waits.lock);
        waits.ms.push_back(ms);
      });

  Pump(2000);
  waits.Take();
  Pump(kPhaseMs);
  const std::vector<double> idle = waits.Take();

  int pictures = 0;
  const auto end = Clock::now() + std::chrono::milliseconds(kPhaseMs);
  while (Clock::now() < end) {
    Guarded([&] { w.btnGetPicClick(); });
    ++pictures;
    QCoreApplication::processEvents();
  }
  const std::vector<double> captures = waits.Take();
  window.reset();
  if (captures.empty() || idle.empty())
    throw BenchError("no frame reached the display");
  ReportWaits(context, captures, idle, pictures);
}

const GroupRegistration registration{50, "lockwait", LockWaitBench};

}  // namespace
}  // namespace bench
