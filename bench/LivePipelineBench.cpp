// Live video: the whole window with a live test camera started through "启动采集"
// (camera, decoder for MJPEG, the grabber with the display picture, the display area and the
// preview both painted, offscreen), measured only from outside: pad probes on the camera and
// the grabber, the display picture's identity, paint events of the two views, and the
// process's CPU time. Nothing here depends on how the window turns a frame into what it shows.
//
// "live": CPU per frame made against two command-line pipelines run as child processes
// (`gst-launch-1.0`, CPU from wait4's resource usage of the child, all its threads), each run
// between two slices of the window so both meet the same machine:
//   full BGR  <camera> [! jpegdec] ! videoconvert n-threads=2 ! video/x-raw,format=BGR ! fakesink
//             (the former per-frame conversion: every frame whole, on two threads as it was)
//   507x418   <camera> [! jpegdec] ! videoscale method=nearest-neighbour
//             ! video/x-raw,width=507,height=418 ! videoconvert ! video/x-raw,format=BGR
//             ! fakesink  (the least that shows a frame: scaled without smoothing, as the
//             display paints, and converted to a paintable format)
// and the camera alone (`<camera> ! fakesink`), to tell the test camera's own cost apart: a
// real camera hands frames over at almost no CPU, the test camera draws them; for MJPEG also
// the decoder alone (`<camera> ! jpegdec ! fakesink`). The window's own work per frame is its
// CPU net of the camera (and decoder), against a goal and against the least a Qt window can
// do to show two views: a bare widget pair painting ready images of the views' sizes 1:1 at
// the camera's rate.
// "busy": no frame may be lost at 1080p60 and 4K30 while a busy loop (a child process pinned
// with sched_setaffinity to the last CPU) runs; the window is not pinned and may use any CPU.
#include <gst/gst.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QPainter>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "Bench.h"
#include "capture/LinkedFilter.h"
#include "platform/media/GstRef.h"
#include "uMain.h"
#include "widgets/TImage.h"

namespace bench {
namespace {

using platform::GstRef;

constexpr int kWarmUpMs = 2000;
constexpr int kSettleMs = 300;

// Time stamps of the frames: as the camera made them, as they reached the grabber, and as the
// display took them (the display picture changed while the grabber had the frame).
struct FrameLog {
  std::atomic<bool> counting{false};
  std::mutex lock;  // guards the vectors; streaming thread per frame, main thread afterwards
  std::vector<GstClockTime> made;       // at the camera's pad, while counting
  std::vector<GstClockTime> grabbed;    // at the grabber's input
  std::vector<GstClockTime> displayed;  // adopted as the display picture
  TBitmap* picture = nullptr;
  const void* lastPicture = nullptr;  // streaming thread only
};

GstPadProbeReturn CameraFrame_Streaming(GstPad*, GstPadProbeInfo* info, gpointer data) {
  auto& log = *static_cast<FrameLog*>(data);
  if (log.counting.load(std::memory_order_relaxed)) {
    std::lock_guard guard(log.lock);
    log.made.push_back(GST_BUFFER_PTS(GST_PAD_PROBE_INFO_BUFFER(info)));
  }
  return GST_PAD_PROBE_OK;
}

GstPadProbeReturn GrabberInput_Streaming(GstPad*, GstPadProbeInfo* info, gpointer data) {
  auto& log = *static_cast<FrameLog*>(data);
  std::lock_guard guard(log.lock);
  log.grabbed.push_back(GST_BUFFER_PTS(GST_PAD_PROBE_INFO_BUFFER(info)));
  return GST_PAD_PROBE_OK;
}

// The grabber has handed the frame to the window; when the display picture is another one
// than before, the display took this frame. Takes the display lock alone, as the main thread
// does.
GstPadProbeReturn GrabberOutput_Streaming(GstPad*, GstPadProbeInfo* info, gpointer data) {
  auto& log = *static_cast<FrameLog*>(data);
  const void* now = log.picture->Snapshot().get();
  if (now != log.lastPicture) {
    log.lastPicture = now;
    std::lock_guard guard(log.lock);
    log.displayed.push_back(GST_BUFFER_PTS(GST_PAD_PROBE_INFO_BUFFER(info)));
  }
  return GST_PAD_PROBE_OK;
}

// Counts a widget's repaints.
class PaintCounter : public QObject {
 public:
  int paints = 0;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint)
      ++paints;
    return false;
  }
};

// CPU time of this process's threads so far, by kind of thread.
std::map<std::string, double> CpuByThreadKind() {
  std::map<std::string, double> byKind;
  const double tick = 1e3 / static_cast<double>(sysconf(_SC_CLK_TCK));
  const std::string self = std::to_string(getpid());
  const QDir tasks(QString::fromStdString("/proc/" + self + "/task"));
  for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    std::ifstream commFile(tasks.filePath(task + "/comm").toStdString());
    std::ifstream statFile(tasks.filePath(task + "/stat").toStdString());
    std::string comm, stat;
    if (!std::getline(commFile, comm) || !std::getline(statFile, stat))
      continue;
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
      if (i >= 14)
        ticks += std::stod(field);
    }
    std::string kind = comm;
    if (task.toStdString() == self)
      kind = "main";
    else if (comm.starts_with("pool-"))
      kind = "GLib pool";
    else if (comm == "Thread (pooled)")
      kind = "Qt pool";
    else if (comm.find(":src") != std::string::npos || comm.find(":s") != std::string::npos ||
             comm.starts_with("videotestsrc"))
      kind = "streaming";
    byKind[kind] += ticks * tick;
  }
  return byKind;
}

// A command line: `gst-launch-1.0 <camera> ! identity eos-after=N <tail>`, in a registry of its
// own (the plugin it loads must not enter the bench's). Run once for one second's worth of
// frames, the cost of starting up, then for more: the differences are the cost of the extra
// frames.
class CommandLine {
 public:
  CommandLine(Context& context, const TestCameraSpec& camera, std::vector<std::string> tail)
      : context_(context), camera_(camera), tail_(std::move(tail)) {
    startUp_ = Run(camera_.fps);
  }

  // CPU and wall time per frame of `frames` more frames.
  void Measure(int frames) {
    const ChildProcess::Exit exit = Run(camera_.fps + frames);
    cpu.push_back((exit.cpuMs - startUp_.cpuMs) / frames);
    wall.push_back((exit.wallMs - startUp_.wallMs) / frames);
  }

  std::vector<double> cpu, wall;

 private:
  ChildProcess::Exit Run(int count) {
    const std::string plugins = context_.buildDir + "/gst-plugins";
    std::vector<std::string> argv = {"gst-launch-1.0", "-q"};
    if (QFile::exists(QString::fromStdString(plugins))) {
      argv.insert(argv.end(),
                  {"stillwicktestcam", Format("width=%d", camera_.width),
                   Format("height=%d", camera_.height), Format("framerate=%d", camera_.fps),
                   "format=" + camera_.format, "pattern=" + camera_.pattern});
    } else {
      argv.insert(argv.end(),
                  {"videotestsrc", "is-live=true", "pattern=" + camera_.pattern, "!",
                   Format("video/x-raw,format=%s,width=%d,height=%d,framerate=%d/1",
                          camera_.format.c_str(), camera_.width, camera_.height, camera_.fps)});
    }
    argv.insert(argv.end(), {"!", "identity", Format("eos-after=%d", count)});
    argv.insert(argv.end(), tail_.begin(), tail_.end());
    const std::vector<std::string> environment = {
        "GST_PLUGIN_PATH=" + plugins,
        "GST_REGISTRY=" + context_.buildDir + "/gst-registry-bench-launch.bin",
        "GST_PLUGIN_FEATURE_RANK=v4l2deviceprovider:NONE,pipewiredeviceprovider:NONE"};
    ChildProcess launch(argv, environment, (context_.scratch + "/gst-launch.log").toStdString());
    const ChildProcess::Exit exit = launch.Wait();
    if (!WIFEXITED(exit.status) || WEXITSTATUS(exit.status) != 0)
      throw BenchError("gst-launch-1.0 failed: " + launch.LogTail());
    return exit;
  }

  Context& context_;
  TestCameraSpec camera_;
  std::vector<std::string> tail_;
  ChildProcess::Exit startUp_;
};

// How the window is run: slices of counted frames; between two, with the window paused so it
// costs nothing, `between` runs; `beforeSlice` and `afterSlice` run around each slice with the
// window playing (not counted).
struct WindowRun {
  int slices = 4;
  int sliceMs = 2000;
  std::function<void()> between = [] {};
  std::function<void()> beforeSlice = [] {};
  std::function<void()> afterSlice = [] {};
};

struct LiveFigures {
  int expected = 0;   // the camera's rate times the counted time
  int made = 0;       // at the camera's pad
  int grabbed = 0;    // of those, reached the grabber
  int displayed = 0;  // of those, taken by the display
  int displayPaints = 0;
  int previewPaints = 0;
  std::vector<double> cpuPerFrameMs;  // one a slice
  std::map<std::string, double> threadCpuMs;
  bool noDrop() const { return displayed == made && grabbed == made && made >= expected - 1; }
};

int CountMade(const std::vector<GstClockTime>& sortedMade, const std::vector<GstClockTime>& seen) {
  std::vector<GstClockTime> unique = seen;
  std::sort(unique.begin(), unique.end());
  unique.erase(std::unique(unique.begin(), unique.end()), unique.end());
  return static_cast<int>(std::count_if(unique.begin(), unique.end(), [&](GstClockTime pts) {
    return std::binary_search(sortedMade.begin(), sortedMade.end(), pts);
  }));
}

LiveFigures RunWindow(const TestCameraSpec& camera, const WindowRun& run) {
  // Declared first: frames may still be on their way when an error unwinds the window.
  FrameLog log;
  log.made.reserve(8192);
  log.grabbed.reserve(8192);
  log.displayed.reserve(8192);
  auto window = OpenWindow();
  TFrmMain& w = *window;
  log.picture = &w.Picture;
  StartCamera(w, camera);

  GstElement* source = BaseFilterOf(w.Filter);
  GstElement* grabber = BaseFilterOf(w.SampleGrabber);
  auto sourcePad = GstRef<GstPad>::Adopt(gst_element_get_static_pad(source, "src"));
  auto grabberIn = GstRef<GstPad>::Adopt(gst_element_get_static_pad(grabber, "sink"));
  auto grabberOut = GstRef<GstPad>::Adopt(gst_element_get_static_pad(grabber, "src"));
  if (!sourcePad || !grabberIn || !grabberOut)
    throw BenchError("camera or grabber pad missing");
  const gulong sourceProbe = gst_pad_add_probe(sourcePad.get(), GST_PAD_PROBE_TYPE_BUFFER,
                                               CameraFrame_Streaming, &log, nullptr);
  const gulong inProbe = gst_pad_add_probe(grabberIn.get(), GST_PAD_PROBE_TYPE_BUFFER,
                                           GrabberInput_Streaming, &log, nullptr);
  const gulong outProbe = gst_pad_add_probe(grabberOut.get(), GST_PAD_PROBE_TYPE_BUFFER,
                                            GrabberOutput_Streaming, &log, nullptr);
  QWidget* preview = w.VWCap->VideoHandle();
  if (!preview || preview == w.VWCap)
    throw BenchError("the preview has no renderer window");
  PaintCounter displayPaints, previewPaints;

  LiveFigures figures;
  double wallMs = 0;
  Pump(kWarmUpMs);
  for (int slice = 0; slice < run.slices; ++slice) {
    if (slice > 0) {
      w.btnPause->click();
      WaitFor([&] { return w.FGVCap.State() == GraphState::Playing; }, "the graph to play again");
      Pump(kSettleMs);
    }
    run.beforeSlice();
    size_t madeBefore;
    {
      std::lock_guard guard(log.lock);
      madeBefore = log.made.size();
    }
    const std::map<std::string, double> threadsBefore = CpuByThreadKind();
    w.Image->installEventFilter(&displayPaints);
    preview->installEventFilter(&previewPaints);
    const double cpuBefore = ProcessCpuMs();
    const auto start = Clock::now();
    log.counting = true;
    Pump(run.sliceMs);
    log.counting = false;
    wallMs += Ms(Clock::now() - start);
    const double cpuMs = ProcessCpuMs() - cpuBefore;
    w.Image->removeEventFilter(&displayPaints);
    preview->removeEventFilter(&previewPaints);
    for (const auto& [kind, ms] : CpuByThreadKind()) {
      const auto before = threadsBefore.find(kind);
      figures.threadCpuMs[kind] += ms - (before == threadsBefore.end() ? 0 : before->second);
    }
    size_t madeAfter;
    {
      std::lock_guard guard(log.lock);
      madeAfter = log.made.size();
    }
    figures.cpuPerFrameMs.push_back(
        cpuMs / static_cast<double>(std::max<size_t>(madeAfter - madeBefore, 1)));
    // Frames made just before the end of the slice are still on their way to the display.
    Pump(kSettleMs);
    run.afterSlice();
    w.btnPause->click();
    WaitFor([&] { return w.FGVCap.State() == GraphState::Paused; }, "the graph to pause");
    run.between();
  }
  figures.displayPaints = displayPaints.paints;
  figures.previewPaints = previewPaints.paints;

  gst_pad_remove_probe(sourcePad.get(), sourceProbe);
  gst_pad_remove_probe(grabberIn.get(), inProbe);
  gst_pad_remove_probe(grabberOut.get(), outProbe);
  window.reset();

  std::lock_guard guard(log.lock);
  std::vector<GstClockTime> made = log.made;
  std::sort(made.begin(), made.end());
  figures.made = static_cast<int>(made.size());
  figures.grabbed = CountMade(made, log.grabbed);
  figures.displayed = CountMade(made, log.displayed);
  figures.expected = static_cast<int>(std::lround(wallMs / 1e3 * camera.fps));
  return figures;
}

std::string Name(const TestCameraSpec& camera) {
  std::string size = Format("%dx%d", camera.width, camera.height);
  if (camera.width == 1280 && camera.height == 720)
    size = "720p";
  else if (camera.width == 1920 && camera.height == 1080)
    size = "1080p";
  else if (camera.width == 3840 && camera.height == 2160)
    size = "4K";
  return (camera.format == "YUY2" ? "" : camera.format + " ") + size + Format("%d", camera.fps);
}

std::string ThreadShares(const LiveFigures& figures) {
  std::string threads;
  for (const auto& [kind, ms] : figures.threadCpuMs) {
    if (ms > 0)
      threads += Format("%s%s %.2f", threads.empty() ? "" : ", ", kind.c_str(),
                        ms / std::max(figures.made, 1));
  }
  return threads;
}

std::string FrameCounts(const LiveFigures& figures) {
  return Format("%d made of %d due, %d grabbed, %d shown; repaints: display %d, preview %d",
                figures.made, figures.expected, figures.grabbed, figures.displayed,
                figures.displayPaints, figures.previewPaints);
}

// A widget painting a ready image 1:1, as a view would that had nothing else to do.
class BareView : public QWidget {
 public:
  explicit BareView(QSize size) : image_(size, QImage::Format_RGB32) {
    image_.fill(Qt::darkCyan);
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(size);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.drawImage(QPoint(0, 0), image_);
  }

 private:
  QImage image_;
};

// CPU per frame of the two bare views repainted `fps` times a second: medians of slices.
double BarePaintMs(int fps) {
  BareView display(QSize(507, 418));
  BareView preview(QSize(276, 187));
  display.show();
  preview.show();
  QTimer frames;
  frames.setTimerType(Qt::PreciseTimer);
  QObject::connect(&frames, &QTimer::timeout, [&] {
    display.update();
    preview.update();
  });
  frames.start(1000 / fps);
  Pump(kSettleMs);
  std::vector<double> perFrame;
  for (int slice = 0; slice < 3; ++slice) {
    const double before = ProcessCpuMs();
    Pump(1000);
    perFrame.push_back((ProcessCpuMs() - before) / fps);
  }
  return Median(perFrame);
}

// The figures of this bench with every frame converted whole to BGR,
// on the 2-core bench machine, 2026-12-08, with other work running (load average 3 to 5):
// medians of three runs of the window's CPU per frame, of the full-conversion and scaled
// command lines', and of each run's two ratios.
struct Before {
  const char* camera;
  double programMs, fullMs, scaledMs, fullRatio, scaledRatio;
};
constexpr Before kBefore[] = {
    {"720p30", 6.09, 3.69, 2.91, 1.72, 2.09},
    {"1080p60", 11.1, 7.69, 4.37, 1.42, 2.51},
    {"4K30", 38.4, 30.2, 12.1, 1.28, 3.22},
    {"MJPEG 1080p30", 15.2, 11.9, 8.52, 1.26, 1.79},
};

void LivePipelineBench(Context& context) {
  // The command line's first start fills its registry; not part of any figure.
  {
    ChildProcess inspect({"gst-inspect-1.0", "stillwicktestcam"},
                         {"GST_PLUGIN_PATH=" + context.buildDir + "/gst-plugins",
                          "GST_REGISTRY=" + context.buildDir + "/gst-registry-bench-launch.bin"},
                         (context.scratch + "/gst-inspect.log").toStdString());
    inspect.Wait();
  }
  const std::vector<std::string> full = {
      "!", "videoconvert", "n-threads=2", "!", "video/x-raw,format=BGR", "!", "fakesink"};
  const std::vector<std::string> scaled = {"!",
                                           "videoscale",
                                           "method=nearest-neighbour",
                                           "!",
                                           "video/x-raw,width=507,height=418",
                                           "!",
                                           "videoconvert",
                                           "!",
                                           "video/x-raw,format=BGR",
                                           "!",
                                           "fakesink"};
  const std::vector<std::string> alone = {"!", "fakesink"};
  auto decoded = [](const std::vector<std::string>& tail) {
    std::vector<std::string> withDecoder = {"!", "jpegdec"};
    withDecoder.insert(withDecoder.end(), tail.begin(), tail.end());
    return withDecoder;
  };
  const TestCameraSpec cameras[] = {
      {.width = 1280, .height = 720},
      {.width = 1920, .height = 1080, .fps = 60},
      {.width = 3840, .height = 2160},
      {.width = 1920, .height = 1080, .format = "MJPEG"},
  };
  constexpr double kFullLimit = 0.5;
  constexpr double kScaledLimit = 1.2;
  constexpr double kWindowGoalMs = 1.0;
  Report& report = context.report;
  std::map<int, double> barePaint;  // by frame rate
  for (const TestCameraSpec& camera : cameras) {
    const std::string name = "live " + Name(camera);
    const bool mjpeg = camera.format == "MJPEG";
    WindowRun run;
    const int sliceFrames = run.sliceMs / 1000 * camera.fps;
    // Each baseline run follows a slice of the window, so all meet the same machine.
    CommandLine fullLine(context, camera, mjpeg ? decoded(full) : full);
    CommandLine scaledLine(context, camera, mjpeg ? decoded(scaled) : scaled);
    CommandLine cameraLine(context, camera, alone);
    std::unique_ptr<CommandLine> decoderLine;
    if (mjpeg)
      decoderLine = std::make_unique<CommandLine>(context, camera, decoded(alone));
    run.between = [&] {
      fullLine.Measure(sliceFrames);
      scaledLine.Measure(sliceFrames);
      cameraLine.Measure(sliceFrames);
      if (decoderLine)
        decoderLine->Measure(sliceFrames);
    };
    const LiveFigures figures = RunWindow(camera, run);

    // A camera that falls behind its rate loses frames as surely as a display that skips them.
    report.Row(name + " frames shown", Format("%d", figures.displayed),
               Format("%d/%d made", figures.made, figures.expected),
               Format("%.2fx", double(figures.displayed) / std::max(figures.made, 1)), "no drop",
               figures.noDrop());
    const double program = Median(figures.cpuPerFrameMs);
    const double fullMs = Median(fullLine.cpu);
    const double scaledMs = Median(scaledLine.cpu);
    const double cameraMs = Median(cameraLine.cpu);
    // The decoder's work is the frame's, not the window's: it runs for saves all the same.
    const double sourceMs = decoderLine ? Median(decoderLine->cpu) : cameraMs;
    const double windowMs = program - sourceMs;
    if (!barePaint.contains(camera.fps))
      barePaint[camera.fps] = BarePaintMs(camera.fps);
    const double bareMs = barePaint[camera.fps];
    report.Row(name + " window CPU/frame", FormatMs(windowMs), FormatMs(bareMs) + " bare",
               Format("%.2fx", windowMs / bareMs), Format("<=%.1f ms", kWindowGoalMs),
               windowMs <= kWindowGoalMs);
    report.Info("  vs 507x418 line, net", FormatMs(windowMs), FormatMs(scaledMs - sourceMs),
                Format("%.2fx", windowMs / (scaledMs - sourceMs)));
    if (decoderLine) {
      report.Info("  jpegdec alone", FormatMs(sourceMs - cameraMs), FormatMs(cameraMs) + " cam");
    }
    report.Ratio(name + " CPU/frame vs full BGR", program, fullMs, kFullLimit,
                 Format("<=%.1fx", kFullLimit));
    report.Ratio(name + " CPU/frame vs 507x418", program, scaledMs, kScaledLimit,
                 Format("<=%.1fx", kScaledLimit));
    for (const Before& before : kBefore) {
      if (Name(camera) == before.camera) {
        report.Info("  every frame converted, vs full BGR", FormatMs(before.programMs),
                    FormatMs(before.fullMs), Format("%.2fx", before.fullRatio));
        report.Note(Format("every frame converted (medians of 3 runs): %.2fx the 507x418 line (%s)",
                           before.scaledRatio, FormatMs(before.scaledMs).c_str()));
      }
    }
    report.Note(Format(
        "net of the test camera (%s a frame alone): window %s, %.2fx full BGR "
        "(%s), %.2fx 507x418 (%s)",
        FormatMs(cameraMs).c_str(), FormatMs(program - cameraMs).c_str(),
        (program - cameraMs) / (fullMs - cameraMs), FormatMs(fullMs - cameraMs).c_str(),
        (program - cameraMs) / (scaledMs - cameraMs), FormatMs(scaledMs - cameraMs).c_str()));
    report.Note(FrameCounts(figures));
    report.Note("CPU ms/frame by thread: " + ThreadShares(figures));
    if (Median(fullLine.wall) > 1.05e3 / camera.fps) {
      report.Note(Format("the full BGR line fell behind its camera: frames %.1f ms apart, not %.1f",
                         Median(fullLine.wall), 1e3 / camera.fps));
    }
  }
}

// ---------------------------------------------------------------- under load

// A child process spinning on one CPU until it is stopped; it dies with the bench.
class BusyLoop {
 public:
  explicit BusyLoop(int cpu) : cpu_(cpu) {
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ < 0)
      throw BenchError("cannot start the busy loop");
    if (pid_ == 0) {
      // Only async-signal-safe calls from here: the parent has threads.
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != parent)
        _exit(0);
      cpu_set_t set;
      CPU_ZERO(&set);
      CPU_SET(cpu, &set);
      if (sched_setaffinity(0, sizeof set, &set) != 0)
        _exit(3);
      for (;;)
        asm volatile("");
    }
    started_ = Clock::now();
  }
  ~BusyLoop() { Stop(); }
  BusyLoop(const BusyLoop&) = delete;
  BusyLoop& operator=(const BusyLoop&) = delete;

  // Stops it; the share of its CPU it used while it ran.
  double Stop() {
    if (pid_ <= 0)
      return share_;
    const double cpu = ChildCpuMs();
    const double wall = Ms(Clock::now() - started_);
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    share_ = cpu / wall;
    return share_;
  }
  int Cpu() const { return cpu_; }

 private:
  double ChildCpuMs() const {
    std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
      return -1;
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
      if (i >= 14)
        ticks += std::stod(field);
    }
    return ticks * 1e3 / static_cast<double>(sysconf(_SC_CLK_TCK));
  }

  int cpu_;
  pid_t pid_ = -1;
  Clock::time_point started_;
  double share_ = NAN;
};

void BusyBench(Context& context) {
  cpu_set_t allowed;
  CPU_ZERO(&allowed);
  if (sched_getaffinity(0, sizeof allowed, &allowed) != 0 || CPU_COUNT(&allowed) < 2) {
    context.report.Note("fewer than two CPUs: no busy-loop rows");
    return;
  }
  int last = 0;
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (CPU_ISSET(cpu, &allowed))
      last = cpu;
  }
  Report& report = context.report;
  for (const TestCameraSpec& camera : {TestCameraSpec{.width = 1920, .height = 1080, .fps = 60},
                                       TestCameraSpec{.width = 3840, .height = 2160}}) {
    const std::string name = "busy " + Name(camera);
    // 10 s of frames in one slice: 600 at 1080p60, 300 at 4K30.
    WindowRun run;
    run.slices = 1;
    run.sliceMs = 10000;
    std::unique_ptr<BusyLoop> busy;
    double share = NAN;
    run.beforeSlice = [&] {
      busy = std::make_unique<BusyLoop>(last);
      Pump(kSettleMs);
    };
    run.afterSlice = [&] { share = busy->Stop(); };
    const LiveFigures figures = RunWindow(camera, run);
    report.Row(name + " frames shown", Format("%d", figures.displayed),
               Format("%d/%d made", figures.made, figures.expected),
               Format("%.2fx", double(figures.displayed) / std::max(figures.made, 1)), "no drop",
               figures.noDrop());
    report.Note(FrameCounts(figures));
    report.Note(
        Format("busy loop pinned to CPU %d took %.0f%% of it; the window unpinned; "
               "window CPU %s a frame (%s)",
               last, share * 100, FormatMs(Median(figures.cpuPerFrameMs)).c_str(),
               ThreadShares(figures).c_str()));
  }
}

const GroupRegistration registration{20, "live", LivePipelineBench};
const GroupRegistration busyRegistration{25, "busy", BusyBench};

}  // namespace
}  // namespace bench
