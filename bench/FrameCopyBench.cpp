// Frame copy: what one frame costs the streaming thread in the grabber, against a bare memcpy
// of the same bytes into a reused buffer.
//
// The window's own grabber element runs in a pipeline of its own (appsrc ! grabber !
// fakesink) fed with pre-made BGR frames, so no camera or converter shares the machine. It is
// put there the way the graph puts it into the capture graph: AboutToAdd, add, Added, and the
// reverse on the way out. The window's frame handler is wrapped only to time it. Besides the
// handler, the whole element is timed (it also keeps a copy of the last frame), and a memcpy
// into two buffers in turn shows what double buffering alone costs.
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "Bench.h"
#include "capture/LinkedFilter.h"
#include "platform/media/GstRef.h"
#include "uMain.h"

namespace bench {
namespace {

using platform::GstRef;

// Filled by the streaming thread; read by the main thread once a round has drained.
struct FrameTimes {
  std::mutex lock;  // guards the vectors; streaming thread per frame, main thread per round
  std::vector<double> element;   // grabber sink pad to grabber source pad
  std::vector<double> callback;  // the frame handler: display lock, recycled Dib, copy, adopt
  Clock::time_point entered;     // streaming thread only
  std::atomic<int> passed{0};
};

GstPadProbeReturn Entered_Streaming(GstPad*, GstPadProbeInfo*, gpointer data) {
  static_cast<FrameTimes*>(data)->entered = Clock::now();
  return GST_PAD_PROBE_OK;
}

GstPadProbeReturn Left_Streaming(GstPad*, GstPadProbeInfo*, gpointer data) {
  auto& times = *static_cast<FrameTimes*>(data);
  const double ms = Ms(Clock::now() - times.entered);
  {
    std::lock_guard guard(times.lock);
    times.element.push_back(ms);
  }
  times.passed.fetch_add(1, std::memory_order_release);
  return GST_PAD_PROBE_OK;
}

class GrabberRig {
 public:
  GrabberRig(TFrmMain& window, int width, int height)
      : window_(window), grabber_(window.SampleGrabber) {
    frameBytes_ = static_cast<size_t>(width) * 3 * static_cast<size_t>(height);
    // One source frame for every push: a frame fresh from the converter is in the cache when
    // the grabber reads it, and so is this one. Pages touched before any timing.
    sourceFrame_ = std::make_unique<uint8_t[]>(frameBytes_);
    for (size_t b = 0; b < frameBytes_; ++b)
      sourceFrame_[b] = static_cast<uint8_t>(b * 7);

    pipeline_ = GstRef<GstElement>::Adopt(gst_pipeline_new("bench-copy"));
    GstElement* source = gst_element_factory_make("appsrc", "source");
    GstElement* sink = gst_element_factory_make("fakesink", "sink");
    if (!source || !sink)
      throw BenchError("appsrc or fakesink missing");
    gst_bin_add_many(GST_BIN(pipeline_.get()), source, sink, nullptr);
    source_ = source;

    grabber_.NotifyFilterOperation(FilterOperation::AboutToAdd, 0);
    GstElement* grabber = grabber_.GetBaseFilter();
    if (!grabber)
      throw BenchError("the grabber made no element");
    gst_bin_add(GST_BIN(pipeline_.get()), grabber);
    grabber_.NotifyFilterOperation(FilterOperation::Added, 0);

    auto caps = GstRef<GstCaps>::Adopt(gst_caps_new_simple(
        "video/x-raw", "format", G_TYPE_STRING, "BGR", "width", G_TYPE_INT, width, "height",
        G_TYPE_INT, height, "framerate", GST_TYPE_FRACTION, 30, 1, nullptr));
    g_object_set(source, "caps", caps.get(), "format", GST_FORMAT_TIME, "block", TRUE, "max-bytes",
                 static_cast<guint64>(2 * frameBytes_), nullptr);
    g_object_set(sink, "sync", FALSE, nullptr);
    if (!gst_element_link_many(source, grabber, sink, nullptr))
      throw BenchError("cannot link appsrc ! grabber ! fakesink");

    auto in = GstRef<GstPad>::Adopt(gst_element_get_static_pad(grabber, "sink"));
    auto out = GstRef<GstPad>::Adopt(gst_element_get_static_pad(grabber, "src"));
    gst_pad_add_probe(in.get(), GST_PAD_PROBE_TYPE_BUFFER, Entered_Streaming, &times_, nullptr);
    gst_pad_add_probe(out.get(), GST_PAD_PROBE_TYPE_BUFFER, Left_Streaming, &times_, nullptr);

    grabber_.SetOnBuffer(
        [this](TSampleGrabber& sender, double time, const void* buffer, int32_t length) {
          const auto start = Clock::now();
          window_.SampleGrabberBuffer(sender, time, buffer, length);
          const double ms = Ms(Clock::now() - start);
          std::lock_guard guard(times_.lock);
          times_.callback.push_back(ms);
        });

    if (gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
      throw BenchError("the copy pipeline does not play");
  }

  ~GrabberRig() {
    gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
    grabber_.NotifyFilterOperation(FilterOperation::AboutToRemove, 0);
    gst_bin_remove(GST_BIN(pipeline_.get()), grabber_.GetBaseFilter());
    grabber_.NotifyFilterOperation(FilterOperation::Removed, 0);
    grabber_.SetOnBuffer(nullptr);
  }

  // Pushes `count` frames and waits until the last has left the grabber; returns the element
  // and handler times of those frames.
  void Push(int count, std::vector<double>& element, std::vector<double>& callback) {
    {
      std::lock_guard guard(times_.lock);
      times_.element.clear();
      times_.callback.clear();
    }
    const int target = times_.passed.load() + count;
    for (int i = 0; i < count; ++i) {
      uint8_t* bytes = sourceFrame_.get();
      GstBuffer* buffer = gst_buffer_new_wrapped_full(GST_MEMORY_FLAG_READONLY, bytes, frameBytes_,
                                                      0, frameBytes_, nullptr, nullptr);
      GST_BUFFER_PTS(buffer) = static_cast<GstClockTime>(pushed_) * GST_SECOND / 30;
      GST_BUFFER_DURATION(buffer) = GST_SECOND / 30;
      ++pushed_;
      if (gst_app_src_push_buffer(GST_APP_SRC(source_), buffer) != GST_FLOW_OK)
        throw BenchError("appsrc refused a frame");
    }
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (times_.passed.load(std::memory_order_acquire) < target) {
      if (Clock::now() > deadline)
        throw BenchError("frames did not pass the grabber");
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    std::lock_guard guard(times_.lock);
    element.insert(element.end(), times_.element.begin(), times_.element.end());
    callback.insert(callback.end(), times_.callback.begin(), times_.callback.end());
  }

  // The baseline: the same bytes into one reused buffer; with `targets` 2, into two in turn,
  // as a display that keeps the picture on show intact while the next arrives must.
  void Copy(int count, int targets, std::vector<double>& times) {
    for (int t = 0; t < targets; ++t) {
      if (!targets_[t]) {
        targets_[t] = std::make_unique<uint8_t[]>(frameBytes_);
        std::memset(targets_[t].get(), 1, frameBytes_);
      }
    }
    for (int i = 0; i < count; ++i) {
      uint8_t* target = targets_[i % targets].get();
      const auto start = Clock::now();
      std::memcpy(target, sourceFrame_.get(), frameBytes_);
      // Keeps the copy from being optimised away.
      asm volatile("" : : "r"(target) : "memory");
      times.push_back(Ms(Clock::now() - start));
    }
  }

 private:
  TFrmMain& window_;
  TSampleGrabber& grabber_;
  size_t frameBytes_ = 0;
  std::unique_ptr<uint8_t[]> sourceFrame_;
  std::unique_ptr<uint8_t[]> targets_[2];
  uint64_t pushed_ = 0;
  GstRef<GstElement> pipeline_;
  GstElement* source_ = nullptr;  // owned by the pipeline
  FrameTimes times_;
};

void FrameCopyBench(Context& context) {
  struct Size {
    int width, height, frames;
    bool goal;
  };
  const Size sizes[] = {{640, 480, 300, false},
                        {1280, 720, 200, false},
                        {1920, 1080, 200, true},
                        {3840, 2160, 100, true}};
  for (const Size& size : sizes) {
    // A window of its own each time, so no Dib of another size is left to recycle.
    auto window = std::make_unique<TFrmMain>();
    std::vector<double> element, callback, copy, copyTwo;
    {
      GrabberRig rig(*window, size.width, size.height);
      std::vector<double> warmElement, warmCallback, warmCopy;
      rig.Push(10, warmElement, warmCallback);
      rig.Copy(10, 2, warmCopy);
      constexpr int kRound = 10;
      for (int done = 0; done < size.frames; done += kRound) {
        rig.Push(kRound, element, callback);
        rig.Copy(kRound, 1, copy);
        rig.Copy(kRound, 2, copyTwo);
      }
    }
    if (callback.size() != element.size())
      throw BenchError("the frame handler did not run once per frame");
    const std::string name = Format("frame copy %dx%d", size.width, size.height);
    const double baseline = Median(copy);
    if (size.goal) {
      context.report.Ratio(name, Median(callback), baseline, 1.5, "<=1.5x");
    } else {
      context.report.Info(name, FormatMs(Median(callback)), FormatMs(baseline),
                          Format("%.2fx", Median(callback) / baseline));
    }
    context.report.Info(Format("  whole grabber element %dx%d", size.width, size.height),
                        FormatMs(Median(element)), FormatMs(baseline),
                        Format("%.2fx", Median(element) / baseline));
    context.report.Info(Format("  memcpy, 2 buffers in turn %dx%d", size.width, size.height),
                        FormatMs(Median(copyTwo)), FormatMs(baseline),
                        Format("%.2fx", Median(copyTwo) / baseline));
  }
}

const GroupRegistration registration{10, "copy", FrameCopyBench};

}  // namespace
}  // namespace bench
