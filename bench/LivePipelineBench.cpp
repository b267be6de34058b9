// Live pipeline: the whole window with a live test camera started through "启动采集" (camera,
// decoder for MJPEG, converter, grabber, display copy, display repaint, preview renderer) for
// 10 s. Frames that reach the display against frames the camera made, and the process's CPU
// time per frame against a command-line pipeline that only decodes (MJPEG) and converts the same
// camera's frames to BGR.
#include <gst/gst.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QPushButton>

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
#include "TImage.h"
#include "capture/LinkedFilter.h"
#include "platform/GstRef.h"
#include "uMain.h"

namespace bench {
namespace {

using platform::GstRef;

// 10 s of frames in five slices. CPU per frame is the median over the slices, so a burst of
// other work on the machine weighs in once.
constexpr int kWarmUpMs = 2000;
constexpr int kSlices = 5;
constexpr int kSliceMs = 2000;
constexpr int kSettleMs = 300;

// Time stamps of the frames, as the camera made them and as the display took them.
struct FrameLog {
  std::atomic<bool> counting{false};
  std::mutex lock;  // guards the vectors; streaming thread per frame, main thread afterwards
  std::vector<GstClockTime> made;       // at the camera's pad, while counting
  std::vector<GstClockTime> displayed;  // adopted as the display picture
  // Streaming thread only: the frame now in the grabber, and whether the display took it.
  GstClockTime inGrabber = GST_CLOCK_TIME_NONE;
  bool adopted = false;
};

GstPadProbeReturn CameraFrame_Streaming(GstPad*, GstPadProbeInfo* info, gpointer data) {
  auto& log = *static_cast<FrameLog*>(data);
  if (log.counting.load(std::memory_order_relaxed)) {
    std::lock_guard guard(log.lock);
    log.made.push_back(GST_BUFFER_PTS(GST_PAD_PROBE_INFO_BUFFER(info)));
  }
  return GST_PAD_PROBE_OK;
}

GstPadProbeReturn GrabberFrame_Streaming(GstPad*, GstPadProbeInfo* info, gpointer data) {
  static_cast<FrameLog*>(data)->inGrabber = GST_BUFFER_PTS(GST_PAD_PROBE_INFO_BUFFER(info));
  return GST_PAD_PROBE_OK;
}

// Counts the display's repaints.
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
    else if (comm.find(":src") != std::string::npos || comm.find(":s") != std::string::npos)
      kind = "streaming";
    byKind[kind] += ticks * tick;
  }
  return byKind;
}

// A command line standing for the least any program must do with the camera's frames:
// `gst-launch-1.0 <camera> ! identity eos-after=N <tail>`, in a registry of its own (the plugin
// it loads must not enter the bench's). Run once for one second's worth of frames, the cost of
// starting up, then for more: the differences are the cost of the extra frames.
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

struct LiveFigures {
  int made = 0;
  int displayed = 0;
  int expected = 0;
  int paints = 0;
  std::vector<double> cpuPerFrameMs;  // one a slice
  std::map<std::string, double> threadCpuMs;
};

// The window plays in slices; between two, with the window paused so it costs nothing,
// `between` runs. Frames are counted only inside the slices.
LiveFigures RunWindow(const TestCameraSpec& camera, const std::function<void()>& between) {
  // Declared first: frames may still be on their way when an error unwinds the window.
  FrameLog log;
  log.made.reserve(4096);
  log.displayed.reserve(4096);
  auto window = OpenWindow();
  TFrmMain& w = *window;
  StartCamera(w, camera);

  GstElement* source = BaseFilterOf(w.Filter);
  GstElement* grabber = BaseFilterOf(w.SampleGrabber);
  auto sourcePad = GstRef<GstPad>::Adopt(gst_element_get_static_pad(source, "src"));
  auto grabberPad = GstRef<GstPad>::Adopt(gst_element_get_static_pad(grabber, "sink"));
  if (!sourcePad || !grabberPad)
    throw BenchError("camera or grabber pad missing");
  const gulong sourceProbe = gst_pad_add_probe(sourcePad.get(), GST_PAD_PROBE_TYPE_BUFFER,
                                               CameraFrame_Streaming, &log, nullptr);
  const gulong grabberProbe = gst_pad_add_probe(grabberPad.get(), GST_PAD_PROBE_TYPE_BUFFER,
                                                GrabberFrame_Streaming, &log, nullptr);
  // The window's own picture hand-off, plus a note that the display took the frame.
  w.Picture.SetOnChanged([&log, image = w.Image] {
    log.adopted = true;
    image->RequestRepaint();
  });
  w.SampleGrabber.SetOnBuffer(
      [&](TSampleGrabber& sender, double time, const void* buffer, int32_t length) {
        log.adopted = false;
        w.SampleGrabberBuffer(sender, time, buffer, length);
        if (log.adopted) {
          std::lock_guard guard(log.lock);
          log.displayed.push_back(log.inGrabber);
        }
      });
  PaintCounter paints;

  LiveFigures figures;
  double wallMs = 0;
  Pump(kWarmUpMs);
  for (int slice = 0; slice < kSlices; ++slice) {
    if (slice > 0) {
      w.btnPause->click();
      WaitFor([&] { return w.FGVCap.State() == GraphState::Playing; }, "the graph to play again");
      Pump(kSettleMs);
    }
    size_t madeBefore;
    {
      std::lock_guard guard(log.lock);
      madeBefore = log.made.size();
    }
    const std::map<std::string, double> threadsBefore = CpuByThreadKind();
    w.Image->installEventFilter(&paints);
    const double cpuBefore = ProcessCpuMs();
    const auto start = Clock::now();
    log.counting = true;
    Pump(kSliceMs);
    log.counting = false;
    wallMs += Ms(Clock::now() - start);
    const double cpuMs = ProcessCpuMs() - cpuBefore;
    w.Image->removeEventFilter(&paints);
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
    w.btnPause->click();
    WaitFor([&] { return w.FGVCap.State() == GraphState::Paused; }, "the graph to pause");
    between();
  }
  figures.paints = paints.paints;

  gst_pad_remove_probe(sourcePad.get(), sourceProbe);
  gst_pad_remove_probe(grabberPad.get(), grabberProbe);
  window.reset();

  std::lock_guard guard(log.lock);
  std::vector<GstClockTime> made = log.made;
  std::sort(made.begin(), made.end());
  figures.made = static_cast<int>(made.size());
  figures.displayed = static_cast<int>(std::count_if(
      log.displayed.begin(), log.displayed.end(),
      [&](GstClockTime pts) { return std::binary_search(made.begin(), made.end(), pts); }));
  figures.expected = static_cast<int>(std::lround(wallMs / 1e3 * camera.fps));
  return figures;
}

void LivePipelineBench(Context& context) {
  // The command line's first start fills its registry; not part of any figure.
  {
    ChildProcess inspect({"gst-inspect-1.0", "stillwicktestcam"},
                         {"GST_PLUGIN_PATH=" + context.buildDir + "/gst-plugins",
                          "GST_REGISTRY=" + context.buildDir + "/gst-registry-bench-launch.bin"},
                         (context.scratch + "/gst-inspect.log").toStdString());
    inspect.Wait();
  }
  const std::vector<std::string> convert = {"!", "videoconvert", "!", "video/x-raw,format=BGR",
                                            "!", "fakesink"};
  std::vector<std::string> decode = {"!", "jpegdec"};
  decode.insert(decode.end(), convert.begin(), convert.end());
  struct Case {
    TestCameraSpec camera;
    const std::vector<std::string>& baselineTail;
    double cpuLimit;
    bool dropGoal;  // whether every frame must reach the display
  };
  const Case cases[] = {
      {Camera(1280, 720, 30), convert, 1.5, true},
      {Camera(1920, 1080, 60), convert, 1.5, true},
      {Camera(3840, 2160, 30), convert, 1.5, true},
      {Camera(1920, 1080, 30, "MJPEG"), decode, 1.3, true},
      {Camera(3840, 2160, 30, "MJPEG"), decode, 1.3, false},
  };
  for (const Case& c : cases) {
    const TestCameraSpec& camera = c.camera;
    const std::string name = Format("live %s%dx%d@%d", camera.format == "MJPEG" ? "MJPEG " : "",
                                    camera.width, camera.height, camera.fps);
    const int sliceFrames = kSliceMs / 1000 * camera.fps;
    // Each baseline run follows a slice of the window, so both meet the same machine.
    CommandLine baseline(context, camera, c.baselineTail);
    const LiveFigures figures = RunWindow(camera, [&] { baseline.Measure(sliceFrames); });

    // A camera that falls behind its rate loses frames as surely as a display that skips them.
    const bool noDrop = figures.displayed == figures.made && figures.made >= figures.expected - 1;
    const std::string shown = Format("%d", figures.displayed);
    const std::string made = Format("%d/%d made", figures.made, figures.expected);
    const std::string share =
        Format("%.2fx", double(figures.displayed) / std::max(figures.made, 1));
    if (c.dropGoal) {
      context.report.Row(name + " frames shown", shown, made, share, "no drop", noDrop);
    } else {
      context.report.Info(name + " frames shown", shown, made, share);
    }
    context.report.Ratio(name + " CPU/frame", Median(figures.cpuPerFrameMs), Median(baseline.cpu),
                         c.cpuLimit, Format("<=%.1fx", c.cpuLimit));
    std::string threads;
    for (const auto& [kind, ms] : figures.threadCpuMs) {
      if (ms > 0)
        threads += Format("%s%s %.2f", threads.empty() ? "" : ", ", kind.c_str(),
                          ms / std::max(figures.made, 1));
    }
    context.report.Note(
        Format("%d display repaints; CPU ms/frame by thread: %s", figures.paints, threads.c_str()));
    if (Median(baseline.wall) > 1.05e3 / camera.fps) {
      context.report.Note(
          Format("the baseline fell behind its camera: frames %.1f ms apart, not %.1f",
                 Median(baseline.wall), 1e3 / camera.fps));
    }
    if (figures.made < figures.expected - 1) {
      // How much of the streaming thread's time the test camera itself takes.
      CommandLine cameraOnly(context, camera, {"!", "fakesink"});
      cameraOnly.Measure(sliceFrames);
      context.report.Note(
          Format("the test camera alone takes %.1f ms CPU a frame", Median(cameraOnly.cpu)));
    }
  }
}

const GroupRegistration registration{20, "live", LivePipelineBench};

}  // namespace
}  // namespace bench
