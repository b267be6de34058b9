#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <future>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "capture/TFilterGraph.h"
#include "capture/TSampleGrabber.h"
#include "platform/media/GrabberElement.h"
#include "support/AllocationHooks.h"

namespace {

using platform::GstRef;
using namespace std::chrono_literals;

// What the handler saw, filled on the streaming thread.
struct FrameLog {
  std::mutex lock;
  std::condition_variable arrived;
  int count = 0;
  double lastTime = -1;
  std::vector<uint8_t> lastBytes;

  void Add(double time, const void* buffer, int32_t length) {
    {
      std::lock_guard guard(lock);
      ++count;
      lastTime = time;
      const auto* bytes = static_cast<const uint8_t*>(buffer);
      lastBytes.assign(bytes, bytes + length);
    }
    arrived.notify_all();
  }
  bool WaitFor(int n) {
    std::unique_lock guard(lock);
    return arrived.wait_for(guard, 10s, [&] { return count >= n; });
  }
};

// source -> [videoconvert] -> the component's grabber -> fakesink. The source is an appsrc
// fed by the test, or a videotestsrc behind a caps filter, which answers caps queries before
// it runs (appsrc does not, so a link to it is never refused). The component goes through the
// graph's add and remove steps by hand.
class Rig {
 public:
  Rig(TSampleGrabber& grabber, const char* caps, bool convert = false, bool testSource = false)
      : grabber_(grabber) {
    pipeline_ = GstRef<GstElement>::Adopt(gst_pipeline_new(nullptr));
    GstBin* bin = GST_BIN(pipeline_.get());
    auto sourceCaps = GstRef<GstCaps>::Adopt(gst_caps_from_string(caps));
    GstElement* upstream = nullptr;
    if (testSource) {
      GstElement* pattern = gst_element_factory_make("videotestsrc", nullptr);
      upstream = gst_element_factory_make("capsfilter", nullptr);
      g_object_set(upstream, "caps", sourceCaps.get(), nullptr);
      gst_bin_add_many(bin, pattern, upstream, nullptr);
      gst_element_link(pattern, upstream);
    } else {
      source_ = upstream = gst_element_factory_make("appsrc", nullptr);
      g_object_set(source_, "caps", sourceCaps.get(), "format", GST_FORMAT_TIME, "block", TRUE,
                   "max-bytes", guint64{1}, nullptr);
      gst_bin_add(bin, source_);
    }
    GstElement* sink = gst_element_factory_make("fakesink", nullptr);
    g_object_set(sink, "sync", FALSE, nullptr);
    gst_bin_add(bin, sink);
    if (convert) {
      GstElement* converter = gst_element_factory_make("videoconvert", nullptr);
      gst_bin_add(bin, converter);
      gst_element_link(upstream, converter);
      upstream = converter;
    }
    grabber.NotifyFilterOperation(FilterOperation::AboutToAdd, 0);
    element_ = grabber.GetBaseFilter();
    gst_bin_add(bin, element_);
    grabber.NotifyFilterOperation(FilterOperation::Added, 0);
    linked_ = gst_element_link(upstream, element_) && gst_element_link(element_, sink);
  }
  ~Rig() {
    gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
    grabber_.NotifyFilterOperation(FilterOperation::AboutToRemove, 0);
    gst_bin_remove(GST_BIN(pipeline_.get()), element_);
    grabber_.NotifyFilterOperation(FilterOperation::Removed, 0);
  }
  bool Linked() const { return linked_; }
  GstElement* Element() const { return element_; }
  bool Play() {
    return gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE;
  }
  // The pipeline's first error, or null when none comes within 10 s.
  GstRef<GstMessage> WaitForError() {
    auto bus = GstRef<GstBus>::Adopt(gst_element_get_bus(pipeline_.get()));
    return GstRef<GstMessage>::Adopt(
        gst_bus_timed_pop_filtered(bus.get(), 10 * GST_SECOND, GST_MESSAGE_ERROR));
  }
  void Push(GstBuffer* buffer) {
    // The appsrc queue's locks are invisible to the race detector; a pass through the
    // grabber's own lock, which each frame takes first, orders the buffer's fields for it.
    MediaTypeRecord ignored;
    grabber_.ConnectedMediaType(ignored);
    gst_app_src_push_buffer(GST_APP_SRC(source_), buffer);
  }
  // A frame of `size` bytes all set to `value`, stamped as frame `index` of 25 a second.
  void PushFilled(size_t size, uint8_t value, int index = 0) {
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, size, nullptr);
    gst_buffer_memset(buffer, 0, value, size);
    GST_BUFFER_PTS(buffer) = static_cast<GstClockTime>(index) * GST_SECOND / 25;
    Push(buffer);
  }

 private:
  TSampleGrabber& grabber_;
  GstRef<GstElement> pipeline_;
  GstElement* source_ = nullptr;
  GstElement* element_ = nullptr;
  bool linked_ = false;
};

void LogFrames(TSampleGrabber& grabber, FrameLog& log) {
  grabber.SetOnBuffer([&log](TSampleGrabber&, double time, const void* buffer, int32_t length) {
    log.Add(time, buffer, length);
  });
}

// What the main window's frame handler does.
void CopyIntoPicture(TSampleGrabber& grabber, TBitmap& picture, FrameLog* log) {
  grabber.SetOnBuffer(
      [&picture, log](TSampleGrabber& sender, double time, const void* buffer, int32_t length) {
        {
          std::lock_guard displayLock(picture);
          sender.CopyToBitmap(&picture, buffer, length);
        }
        if (log)
          log->Add(time, buffer, length);
      });
}

bool AllBytes(const uint8_t* bytes, size_t size, uint8_t value) {
  return std::all_of(bytes, bytes + size, [value](uint8_t b) { return b == value; });
}

TEST(TSampleGrabberTest, InactiveGrabberHasNoFilterAndCopiesNothing) {
  TSampleGrabber grabber("SampleGrabber");
  EXPECT_EQ(grabber.GetFilterName(), "SampleGrabber");
  EXPECT_EQ(grabber.GetBaseFilter(), nullptr);
  TMediaType expected(MEDIATYPE_Video);
  expected.SetSubtype(MEDIASUBTYPE_RGB24);
  expected.SetFormatType(FORMAT_VideoInfo);
  EXPECT_EQ(grabber.MediaType().Data(), expected.Data());

  grabber.ApplyMediaType();
  MediaTypeRecord connected;
  EXPECT_FALSE(grabber.ConnectedMediaType(connected));
  TBitmap picture;
  const uint8_t frame[96] = {};
  EXPECT_FALSE(grabber.CopyToBitmap(&picture, frame, sizeof(frame)));
  EXPECT_FALSE(grabber.CopyToBitmap(&picture, nullptr, 0));
  std::lock_guard displayLock(picture);
  EXPECT_TRUE(picture.Empty());
}

TEST(TSampleGrabberTest, InputAcceptsEveryRawFormatForAnRgbTypeAndNothingElse) {
  struct Case {
    GUID subtype;
    GUID formatType;
    const char* sourceCaps;
    bool convert;
    bool linked;
  };
  // Frames pass as delivered; the type says what pictures they become.
  const Case cases[] = {
      {MEDIASUBTYPE_RGB24, FORMAT_VideoInfo, "video/x-raw,format=YUY2", false, true},
      {MEDIASUBTYPE_RGB24, FORMAT_VideoInfo, "video/x-raw,format=YUY2", true, true},
      {MEDIASUBTYPE_RGB24, FORMAT_VideoInfo, "video/x-raw,format=BGR", false, true},
      {MEDIASUBTYPE_RGB24, FORMAT_VideoInfo, "video/x-raw,format=NV12", false, true},
      {MEDIASUBTYPE_RGB24, FORMAT_VideoInfo, "video/x-raw,format=GRAY8", false, true},
      {MEDIASUBTYPE_RGB32, FORMAT_VideoInfo2, "video/x-raw,format=BGRx", false, true},
      {MEDIASUBTYPE_RGB32, FORMAT_VideoInfo, "video/x-raw,format=I420", false, true},
      {MEDIASUBTYPE_RGB24, FORMAT_VideoInfo, "image/jpeg", false, false},  // not decoded
      {GUID_NULL, FORMAT_VideoInfo, "video/x-raw,format=BGR", false, false},
      {MEDIASUBTYPE_RGB24, MEDIATYPE_Video, "video/x-raw,format=BGR", false,
       false},  // no format type
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.sourceCaps) + (c.convert ? " via videoconvert" : " direct"));
    TSampleGrabber grabber("SampleGrabber");
    grabber.MediaType().SetSubtype(c.subtype);
    grabber.MediaType().SetFormatType(c.formatType);
    FrameLog log;
    LogFrames(grabber, log);
    const std::string caps = std::string(c.sourceCaps) + ",width=8,height=4,framerate=25/1";
    Rig rig(grabber, caps.c_str(), c.convert, true);
    EXPECT_EQ(rig.Linked(), c.linked);
    if (!c.linked)
      continue;
    ASSERT_TRUE(rig.Play());
    EXPECT_TRUE(log.WaitFor(1));
  }
}

// An I420 frame of odd width through a grabber whose type has the VIDEOINFOHEADER block or the
// VIDEOINFOHEADER2 one.
void ExpectOddWidthFrameWholeAndUpright(bool videoInfo2) {
  TSampleGrabber grabber("SampleGrabber");
  if (videoInfo2)
    grabber.MediaType().SetFormatType(FORMAT_VideoInfo2);
  TBitmap picture;
  FrameLog log;
  CopyIntoPicture(grabber, picture, &log);
  Rig rig(grabber, "video/x-raw,format=I420,width=321,height=240,framerate=25/1", true);
  ASSERT_TRUE(rig.Linked());
  ASSERT_TRUE(rig.Play());

  // Light upper half, dark lower half, grey chroma.
  GstVideoInfo info;
  gst_video_info_set_format(&info, GST_VIDEO_FORMAT_I420, 321, 240);
  GstBuffer* frame = gst_buffer_new_allocate(nullptr, GST_VIDEO_INFO_SIZE(&info), nullptr);
  const size_t half = static_cast<size_t>(GST_VIDEO_INFO_PLANE_STRIDE(&info, 0)) * 120;
  gst_buffer_memset(frame, 0, 235, half);
  gst_buffer_memset(frame, half, 16, half);
  const size_t chroma = GST_VIDEO_INFO_PLANE_OFFSET(&info, 1);
  gst_buffer_memset(frame, chroma, 128, GST_VIDEO_INFO_SIZE(&info) - chroma);
  GST_BUFFER_PTS(frame) = 3 * GST_SECOND / 25;
  rig.Push(frame);
  ASSERT_TRUE(log.WaitFor(1));

  // The frame passes as I420 (no converter runs on it); the type reported is the picture's.
  MediaTypeRecord connected;
  ASSERT_TRUE(grabber.ConnectedMediaType(connected));
  EXPECT_EQ(connected.header.subtype, MEDIASUBTYPE_RGB24);
  EXPECT_EQ(connected.header.formattype, videoInfo2 ? FORMAT_VideoInfo2 : FORMAT_VideoInfo);
  EXPECT_EQ(connected.header.cbFormat, videoInfo2 ? 112u : 88u);
  const BITMAPINFOHEADER* header = VideoBitmapHeader(connected);
  ASSERT_NE(header, nullptr);
  EXPECT_EQ(header->biWidth, 321);
  EXPECT_EQ(header->biHeight, -240);
  EXPECT_EQ(header->biSizeImage, 964u * 240u);
  {
    std::lock_guard guard(log.lock);
    EXPECT_DOUBLE_EQ(log.lastTime, 0.12);
    EXPECT_EQ(log.lastBytes.size(), GST_VIDEO_INFO_SIZE(&info));
  }

  TBitmap::Ref shown = picture.Snapshot();
  ASSERT_TRUE(shown);
  EXPECT_EQ(shown->Width(), 321);
  EXPECT_EQ(shown->Height(), 240);
  EXPECT_EQ(shown->BitCount(), 24);
  ASSERT_TRUE(shown->ComputeFramePixels());
  const uint8_t* top = shown->ScanLine(0);
  const uint8_t* bottom = shown->ScanLine(239);
  EXPECT_TRUE(std::all_of(top, top + 963, [](uint8_t b) { return b > 240; }));
  EXPECT_TRUE(std::all_of(bottom, bottom + 963, [](uint8_t b) { return b < 15; }));
}

TEST(TSampleGrabberTest, FramesOfOddWidthArriveWholeAndUprightInThePicture) {
  for (const bool videoInfo2 : {false, true}) {
    SCOPED_TRACE(videoInfo2 ? "VideoInfo2" : "VideoInfo");
    ExpectOddWidthFrameWholeAndUpright(videoInfo2);
  }
}

// A 321x4 BGR frame whose rows lie 1000 bytes apart (row y all 10 + y), to be repacked to DIB
// rows of 964 bytes.
constexpr char kStridedCaps[] = "video/x-raw,format=BGR,width=321,height=4,framerate=25/1";
GstBuffer* StridedFrame() {
  GstBuffer* frame = gst_buffer_new_allocate(nullptr, 4000, nullptr);
  gst_buffer_memset(frame, 0, 0xEE, 4000);
  for (int y = 0; y < 4; ++y)
    gst_buffer_memset(frame, gsize{1000} * y, 10 + y, 963);
  gsize offsets[GST_VIDEO_MAX_PLANES] = {0};
  gint strides[GST_VIDEO_MAX_PLANES] = {1000};
  gst_buffer_add_video_meta_full(frame, GST_VIDEO_FRAME_FLAG_NONE, GST_VIDEO_FORMAT_BGR, 321, 4, 1,
                                 offsets, strides);
  return frame;
}

// A grabber copying its frames into a picture, in a rig that is to be fed strided frames.
struct StridedRig {
  void Play() {
    CopyIntoPicture(grabber, picture, &log);
    ASSERT_TRUE(rig.Linked());
    ASSERT_TRUE(rig.Play());
  }

  TSampleGrabber grabber{"SampleGrabber"};
  TBitmap picture;
  FrameLog log;
  Rig rig{grabber, kStridedCaps};
};

TEST(TSampleGrabberTest, StridedFramesArriveAsDeliveredAndArePackedInThePicture) {
  StridedRig strided;
  ASSERT_NO_FATAL_FAILURE(strided.Play());
  strided.rig.Push(StridedFrame());
  ASSERT_TRUE(strided.log.WaitFor(1));
  {
    std::lock_guard guard(strided.log.lock);
    EXPECT_EQ(strided.log.lastBytes.size(), 4000u);  // the frame's own memory, rows 1000 apart
  }
  TBitmap::Ref shown = strided.picture.Snapshot();
  ASSERT_TRUE(shown && shown->ComputeFramePixels());
  ASSERT_EQ(shown->ImageSize(), 964u * 4u);
  for (int y = 0; y < 4; ++y) {
    const uint8_t* row = shown->ScanLine(y);
    ASSERT_NE(row, nullptr);
    EXPECT_TRUE(AllBytes(row, 963, static_cast<uint8_t>(10 + y))) << "row " << y;
    EXPECT_EQ(row[963], 0) << "padding of row " << y;
  }
}

TEST(TSampleGrabberTest, StridedFramesNeedNoPixelMemoryWhileStreamingAndAReaderWithoutItGetsNone) {
  StridedRig strided;
  ASSERT_NO_FATAL_FAILURE(strided.Play());
  // The first frames bring the picture objects into being; later ones recycle them.
  for (int i = 0; i < 5; ++i)
    strided.rig.Push(StridedFrame());
  ASSERT_TRUE(strided.log.WaitFor(5));
  const int before = ArrayAllocationsCounted();
  CountArrayAllocations(std::size_t{964} * 4);
  for (int i = 0; i < 20; ++i)
    strided.rig.Push(StridedFrame());
  ASSERT_TRUE(strided.log.WaitFor(25));
  EXPECT_EQ(ArrayAllocationsCounted(), before);

  TBitmap::Ref shown = strided.picture.Snapshot();
  ASSERT_TRUE(shown && shown->Frame());
  // Its pixels exist only once asked for. Without memory for them the request fails; the next
  // one makes them, once.
  EXPECT_EQ(shown->Bits(), nullptr);
  FailNextAllocation(std::size_t{964} * 4);  // fails off the main thread only
  bool failed = true;
  std::thread([&] { failed = !shown->ComputeFramePixels(); }).join();
  const bool failureUsed = !AllocationFailureArmed();
  FailNextAllocation(0);
  EXPECT_TRUE(failureUsed);
  EXPECT_TRUE(failed);
  EXPECT_EQ(shown->Bits(), nullptr);
  ASSERT_TRUE(shown->ComputeFramePixels());
  EXPECT_TRUE(shown->ComputeFramePixels());
  const uint8_t* bits = shown->Bits();
  ASSERT_NE(bits, nullptr);
  EXPECT_EQ(shown->Bits(), bits);
  CountArrayAllocations(0);
  EXPECT_EQ(ArrayAllocationsCounted(), before + 1);
}

TEST(TSampleGrabberTest, AsksItsSourceForBuffersForTheFramesTheProgramHolds) {
  // videotestsrc ! grabber ! fakesink: the sink proposes no buffers of its own.
  auto pipeline = GstRef<GstElement>::Adopt(gst_pipeline_new(nullptr));
  GstElement* source = gst_element_factory_make("videotestsrc", nullptr);
  GstElement* filter = gst_element_factory_make("capsfilter", nullptr);
  GstElement* sink = gst_element_factory_make("fakesink", nullptr);
  auto caps = GstRef<GstCaps>::Adopt(
      gst_caps_from_string("video/x-raw,format=YUY2,width=64,height=48,framerate=25/1"));
  g_object_set(filter, "caps", caps.get(), nullptr);
  g_object_set(source, "num-buffers", 2, nullptr);
  platform::GrabberElement grabber;
  grabber.SetFormat(platform::GrabberFormat::BGR);
  gst_bin_add_many(GST_BIN(pipeline.get()), source, filter, grabber.Element(), sink, nullptr);
  ASSERT_TRUE(gst_element_link_many(source, filter, grabber.Element(), sink, nullptr));

  struct Seen {
    std::atomic<bool> answered{false};
    std::atomic<unsigned> minBuffers{0};
  } seen;
  auto pad = GstRef<GstPad>::Adopt(gst_element_get_static_pad(source, "src"));
  gst_pad_add_probe(
      pad.get(),
      static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_QUERY_DOWNSTREAM | GST_PAD_PROBE_TYPE_PULL),
      [](GstPad*, GstPadProbeInfo* info, gpointer data) {
        GstQuery* query = GST_PAD_PROBE_INFO_QUERY(info);
        auto& s = *static_cast<Seen*>(data);
        if (GST_QUERY_TYPE(query) == GST_QUERY_ALLOCATION &&
            gst_query_get_n_allocation_pools(query) > 0) {
          guint min = 0;
          gst_query_parse_nth_allocation_pool(query, 0, nullptr, nullptr, &min, nullptr);
          s.minBuffers = min;
          s.answered = true;
        }
        return GST_PAD_PROBE_OK;
      },
      &seen, nullptr);
  gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
  auto bus = GstRef<GstBus>::Adopt(gst_element_get_bus(pipeline.get()));
  auto end = GstRef<GstMessage>::Adopt(
      gst_bus_timed_pop_filtered(bus.get(), 10 * GST_SECOND,
                                 static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
  gst_element_set_state(pipeline.get(), GST_STATE_NULL);
  ASSERT_TRUE(end);
  EXPECT_EQ(GST_MESSAGE_TYPE(end.get()), GST_MESSAGE_EOS);
  EXPECT_TRUE(seen.answered);
  EXPECT_GE(seen.minBuffers.load(), platform::kGrabberFramesHeld);
}

TEST(TSampleGrabberTest, CopyToBitmapCutsPadsAndRefuses) {
  TSampleGrabber grabber("SampleGrabber");
  FrameLog log;
  LogFrames(grabber, log);
  Rig rig(grabber, "video/x-raw,format=BGR,width=8,height=4,framerate=25/1");  // 96 bytes
  ASSERT_TRUE(rig.Linked());
  ASSERT_TRUE(rig.Play());
  rig.PushFilled(96, 0x5A);
  ASSERT_TRUE(log.WaitFor(1));

  TBitmap picture;
  const std::vector<uint8_t> shortFrame(40, 0x11), longFrame(200, 0x22);
  EXPECT_FALSE(grabber.CopyToBitmap(nullptr, shortFrame.data(), 40));
  EXPECT_FALSE(grabber.CopyToBitmap(&picture, shortFrame.data(), 0));
  EXPECT_FALSE(grabber.CopyToBitmap(&picture, shortFrame.data(), -1));
  EXPECT_TRUE(picture.Empty());

  ASSERT_TRUE(grabber.CopyToBitmap(&picture, longFrame.data(), 200));
  const Dib* held = picture.Handle();
  ASSERT_EQ(held->ImageSize(), 96u);
  EXPECT_TRUE(AllBytes(held->Bits(), 96, 0x22));
  EXPECT_FALSE(grabber.CopyToBitmap(&picture, longFrame.data(), 0));
  EXPECT_EQ(picture.Handle(), held);
  // No buffer: the grabber's copy of the last frame.
  ASSERT_TRUE(grabber.CopyToBitmap(&picture, nullptr, 0));
  ASSERT_TRUE(picture.Handle()->ComputeFramePixels());
  EXPECT_TRUE(AllBytes(picture.Handle()->Bits(), 96, 0x5A));
  // Lands in the recycled memory of the long frame; what it does not cover is black.
  ASSERT_TRUE(grabber.CopyToBitmap(&picture, shortFrame.data(), 40));
  EXPECT_TRUE(AllBytes(picture.Handle()->Bits(), 40, 0x11));
  EXPECT_TRUE(AllBytes(picture.Handle()->Bits() + 40, 56, 0));
}

// A handler may keep a copy of a frame and hand it in later; its bytes are taken for the
// picture's rows, which they are only when the frames arrive in the picture's format.
TEST(TSampleGrabberTest, CopiesOfFramesDeliveredInAnotherFormatAreRefused) {
  struct Case {
    GUID subtype;
    const char* format;
    size_t bytes;  // of an 8 x 4 frame
    bool copied;
  };
  const Case cases[] = {
      {MEDIASUBTYPE_RGB24, "BGR", 96, true},   {MEDIASUBTYPE_RGB24, "YUY2", 64, false},
      {MEDIASUBTYPE_RGB24, "I420", 48, false}, {MEDIASUBTYPE_RGB32, "BGRx", 128, true},
      {MEDIASUBTYPE_RGB32, "BGR", 96, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    TSampleGrabber grabber("SampleGrabber");
    grabber.MediaType().SetSubtype(c.subtype);
    FrameLog log;
    LogFrames(grabber, log);
    Rig rig(
        grabber,
        (std::string("video/x-raw,width=8,height=4,framerate=25/1,format=") + c.format).c_str());
    ASSERT_TRUE(rig.Linked());
    ASSERT_TRUE(rig.Play());
    rig.PushFilled(c.bytes, 0x40);
    ASSERT_TRUE(log.WaitFor(1));

    TBitmap picture;
    const std::vector<uint8_t> copy = log.lastBytes;
    EXPECT_EQ(grabber.CopyToBitmap(&picture, copy.data(), static_cast<int32_t>(copy.size())),
              c.copied);
    EXPECT_EQ(picture.Empty(), !c.copied);
    EXPECT_TRUE(grabber.CopyToBitmap(&picture, nullptr, 0));  // the frame itself always
  }
}

TEST(TSampleGrabberTest, BitmapHeaderOnlyInPlainVideoInfoBlocks) {
  struct Case {
    GUID majortype;
    GUID formatType;
    size_t blockSize;
    int headerAt;  // -1: none
  };
  const Case cases[] = {
      {MEDIATYPE_Video, FORMAT_VideoInfo, 88, 48},  {MEDIATYPE_Video, FORMAT_VideoInfo, 100, -1},
      {MEDIATYPE_Video, FORMAT_VideoInfo, 112, -1}, {MEDIATYPE_Video, FORMAT_VideoInfo2, 112, 72},
      {MEDIATYPE_Video, FORMAT_VideoInfo2, 88, -1}, {MEDIATYPE_Video, GUID_NULL, 88, -1},
      {GUID_NULL, FORMAT_VideoInfo, 88, -1},
  };
  for (const Case& c : cases) {
    MediaTypeRecord record;
    record.header.majortype = c.majortype;
    record.header.formattype = c.formatType;
    SetFormatBlock(record, std::vector<uint8_t>(c.blockSize));
    const BITMAPINFOHEADER* header = VideoBitmapHeader(record);
    if (c.headerAt < 0) {
      EXPECT_EQ(header, nullptr) << c.blockSize;
    } else {
      EXPECT_EQ(reinterpret_cast<const uint8_t*>(header), record.format.data() + c.headerAt);
    }
  }
}

TEST(TSampleGrabberTest, FramesReuseRetiredPicturesButNeverOneInUse) {
  TSampleGrabber grabber("SampleGrabber");
  FrameLog log;
  LogFrames(grabber, log);
  Rig rig(grabber, "video/x-raw,format=BGR,width=37,height=29,framerate=25/1");
  ASSERT_TRUE(rig.Linked());
  ASSERT_TRUE(rig.Play());
  const size_t imageSize = size_t{112} * 29;  // 111 bytes a row, padded to 112
  rig.PushFilled(imageSize, 1);
  ASSERT_TRUE(log.WaitFor(1));

  TBitmap picture;
  std::vector<uint8_t> frame(imageSize);
  auto copy = [&](uint8_t value) {
    std::fill(frame.begin(), frame.end(), value);
    return grabber.CopyToBitmap(&picture, frame.data(), static_cast<int32_t>(frame.size()));
  };
  for (uint8_t value = 0; value < 5; ++value)
    ASSERT_TRUE(copy(value));
  // Pixel buffers land in recycled memory.
  CountArrayAllocations(imageSize);
  for (uint8_t value = 5; value < 25; ++value)
    ASSERT_TRUE(copy(value));
  CountArrayAllocations(0);
  EXPECT_EQ(ArrayAllocationsCounted(), 0);

  ASSERT_TRUE(copy(0x77));
  TBitmap::Ref shown = picture.Snapshot();
  for (uint8_t value = 0; value < 10; ++value) {
    ASSERT_TRUE(copy(value));
    EXPECT_NE(picture.Handle(), shown.get());
  }
  // The picture kept its pixels; the row padding never carries the producer's bytes.
  for (int y = 0; y < 29; ++y) {
    EXPECT_TRUE(AllBytes(shown->Bits() + std::ptrdiff_t{112} * y, 111, 0x77)) << "row " << y;
    EXPECT_EQ(shown->Bits()[y * 112 + 111], 0) << "row " << y;
  }
}

TEST(TSampleGrabberTest, SnapshotsTakenWhileFramesStreamAreWholeFrames) {
  TSampleGrabber grabber("SampleGrabber");
  TBitmap picture;
  FrameLog log;
  CopyIntoPicture(grabber, picture, &log);
  Rig rig(grabber, "video/x-raw,format=BGR,width=64,height=48,framerate=25/1");
  ASSERT_TRUE(rig.Linked());
  ASSERT_TRUE(rig.Play());

  // The camera waits for a snapshot every few frames, so that the two threads overlap however
  // the machine schedules them.
  constexpr int kFrames = 200;
  const size_t imageSize = size_t{192} * 48;
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  std::atomic<int> snapshots{0};
  std::atomic<bool> pushed{false};
  std::thread camera([&] {
    for (int i = 0; i < kFrames; ++i) {
      rig.PushFilled(imageSize, static_cast<uint8_t>(i), i);
      const int seen = snapshots.load();
      while (i % 10 == 9 && snapshots.load() == seen && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    }
    pushed = true;
  });
  bool whole = true;
  while (!(pushed && log.WaitFor(kFrames)) && std::chrono::steady_clock::now() < deadline) {
    TBitmap::Ref shown = picture.Snapshot();
    if (!shown)
      continue;
    ++snapshots;
    whole = whole && shown->ComputeFramePixels() &&
            AllBytes(shown->Bits(), imageSize, shown->Bits()[0]);
  }
  camera.join();
  EXPECT_TRUE(whole);
  EXPECT_GE(snapshots.load(), kFrames / 10);
}

TEST(TSampleGrabberTest, HandlerErrorsEndOnlyTheirFrame) {
  TSampleGrabber grabber("SampleGrabber");
  FrameLog log;
  grabber.SetOnBuffer([&log](TSampleGrabber&, double time, const void* buffer, int32_t length) {
    log.Add(time, buffer, length);
    throw std::runtime_error("handler failed");
  });
  Rig rig(grabber, "video/x-raw,format=BGR,width=8,height=4,framerate=25/1");
  ASSERT_TRUE(rig.Linked());
  ASSERT_TRUE(rig.Play());
  // Each frame reaches the handler: the buffer lock was let go after every error.
  for (int i = 0; i < 3; ++i)
    rig.PushFilled(96, 1, i);
  EXPECT_TRUE(log.WaitFor(3));
}

TEST(TSampleGrabberTest, EachActivationMakesAFreshFilterSetUpAgain) {
  TSampleGrabber grabber("SampleGrabber");
  GstRef<GstElement> first;
  bool frameFreed = false;
  {
    // No handler: frames pass with no work, and the last one is kept.
    Rig rig(grabber, "video/x-raw,format=BGR,width=8,height=4,framerate=25/1");
    first = GstRef<GstElement>::Retain(rig.Element());
    ASSERT_TRUE(rig.Linked());
    ASSERT_TRUE(rig.Play());
    GstBuffer* frame = gst_buffer_new_allocate(nullptr, 96, nullptr);
    gst_buffer_memset(frame, 0, 3, 96);
    gst_mini_object_weak_ref(
        GST_MINI_OBJECT(frame),
        [](gpointer freed, GstMiniObject*) { *static_cast<bool*>(freed) = true; }, &frameFreed);
    rig.Push(frame);
    TBitmap picture;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!grabber.CopyToBitmap(&picture, nullptr, 0) &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::yield();
    }
    ASSERT_FALSE(picture.Empty());
    ASSERT_TRUE(picture.Handle()->ComputeFramePixels());
    EXPECT_TRUE(AllBytes(picture.Handle()->Bits(), 96, 3));

    // A new type applied while active unlinks the input and holds from then on.
    grabber.MediaType().SetSubtype(MEDIASUBTYPE_RGB32);
    grabber.ApplyMediaType();
    auto input = GstRef<GstPad>::Adopt(gst_element_get_static_pad(rig.Element(), "sink"));
    EXPECT_FALSE(gst_pad_is_linked(input.get()));
  }
  EXPECT_EQ(grabber.GetBaseFilter(), nullptr);
  // The kept frame went with the filter, though the element itself is still referenced.
  EXPECT_TRUE(frameFreed);

  FrameLog log;
  LogFrames(grabber, log);
  Rig again(grabber, "video/x-raw,format=BGRx,width=8,height=4,framerate=25/1");
  EXPECT_NE(again.Element(), first.get());
  ASSERT_TRUE(again.Linked());
  ASSERT_TRUE(again.Play());
  again.PushFilled(128, 4);
  EXPECT_TRUE(log.WaitFor(1));
}

TEST(TSampleGrabberTest, JoinsAndLeavesTheGraphWithItsName) {
  auto graph = std::make_unique<TFilterGraph>("FGVCap");
  TSampleGrabber grabber("SampleGrabber");
  grabber.SetFilterGraph(graph.get());
  EXPECT_EQ(grabber.FilterGraph(), graph.get());
  EXPECT_EQ(grabber.GetBaseFilter(), nullptr);

  graph->SetActive(true);
  GstElement* filter = grabber.GetBaseFilter();
  ASSERT_TRUE(platform::IsGrabber(filter));
  EXPECT_EQ(GST_OBJECT_PARENT(filter), GST_OBJECT(graph->Pipeline()));
  auto name = platform::GCharPtr(gst_object_get_name(GST_OBJECT(filter)));
  EXPECT_STREQ(name.get(), "SampleGrabber");

  graph->SetActive(false);
  EXPECT_EQ(grabber.GetBaseFilter(), nullptr);
  graph->SetActive(true);
  graph.reset();  // the graph goes first: the grabber forgets it and lets its filter go
  EXPECT_EQ(grabber.FilterGraph(), nullptr);
  EXPECT_EQ(grabber.GetBaseFilter(), nullptr);
}

TEST(TSampleGrabberTest, PreviewStreamFromCamerasBringsFramesIntoThePicture) {
  for (const char* format : {"YUY2", "MJPEG"}) {
    SCOPED_TRACE(format);
    TFilterGraph graph("FGVCap");
    graph.SetMode(TGraphMode::gmCapture);
    TSampleGrabber grabber("SampleGrabber");
    TBitmap picture;
    FrameLog log;
    CopyIntoPicture(grabber, picture, &log);
    grabber.SetFilterGraph(&graph);
    graph.SetActive(true);
    GstElement* camera = gst_element_factory_make("stillwicktestcam", nullptr);
    ASSERT_NE(camera, nullptr);
    g_object_set(camera, "width", 321, "height", 240, nullptr);
    gst_util_set_object_arg(G_OBJECT(camera), "format", format);
    GstElement* sink = gst_element_factory_make("fakesink", nullptr);
    gst_bin_add_many(GST_BIN(graph.Pipeline()), camera, sink, nullptr);
    EXPECT_EQ(graph.CaptureGraphBuilder().RenderStream(camera, grabber.GetBaseFilter(), sink),
              S_OK);
    ASSERT_TRUE(graph.Play());
    ASSERT_TRUE(log.WaitFor(2));
    TBitmap::Ref shown = picture.Snapshot();
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->Width(), 321);
    EXPECT_EQ(shown->Height(), 240);
    EXPECT_EQ(shown->BitCount(), 24);
    shown.Reset();
    grabber.SetFilterGraph(nullptr);
  }
}

}  // namespace
