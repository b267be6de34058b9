#pragma once
// A frame through videoconvert, the converter the pipeline once ran in front of the grabber on
// every frame: the reference the program's own conversions are held to.

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/video/video.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/media/GstRef.h"
#include "platform/media/VideoFrame.h"

// The frame converted to `format` (BGR or BGRx) on `threads` threads, as DIB rows: top row
// first, padded to 4 bytes with zeros. Empty when it could not be converted.
inline std::vector<uint8_t> Videoconvert(const platform::VideoFrame& frame, const char* format,
                                         int bytesPerPixel, int threads = 2) {
  using platform::GstRef;
  const std::string description =
      "appsrc name=source format=time ! videoconvert n-threads=" + std::to_string(threads) +
      " ! video/x-raw,format=" + format + " ! appsink name=sink sync=false";
  std::vector<uint8_t> rows;
  auto pipeline = GstRef<GstElement>::Adopt(gst_parse_launch(description.c_str(), nullptr));
  if (!pipeline)
    return rows;
  auto source = GstRef<GstElement>::Adopt(gst_bin_get_by_name(GST_BIN(pipeline.get()), "source"));
  auto sink = GstRef<GstElement>::Adopt(gst_bin_get_by_name(GST_BIN(pipeline.get()), "sink"));
  auto caps = GstRef<GstCaps>::Adopt(gst_video_info_to_caps(&frame.Info()));
  g_object_set(source.get(), "caps", caps.get(), nullptr);
  gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
  GstBuffer* buffer = gst_buffer_copy(frame.Buffer());  // metadata copy, same memory
  GST_BUFFER_PTS(buffer) = 0;
  gst_app_src_push_buffer(GST_APP_SRC(source.get()), buffer);
  gst_app_src_end_of_stream(GST_APP_SRC(source.get()));
  auto sample = GstRef<GstSample>::Adopt(
      gst_app_sink_try_pull_sample(GST_APP_SINK(sink.get()), 10 * GST_SECOND));
  GstVideoInfo info;
  GstVideoFrame converted;
  if (sample && gst_video_info_from_caps(&info, gst_sample_get_caps(sample.get())) &&
      gst_video_frame_map(&converted, &info, gst_sample_get_buffer(sample.get()), GST_MAP_READ)) {
    const size_t rowBytes = static_cast<size_t>(frame.Width()) * bytesPerPixel;
    const size_t stride = (rowBytes + 3) / 4 * 4;
    rows.assign(stride * static_cast<size_t>(frame.Height()), 0);
    for (int y = 0; y < frame.Height(); ++y) {
      std::memcpy(rows.data() + y * stride,
                  static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&converted, 0)) +
                      std::ptrdiff_t{y} * GST_VIDEO_FRAME_PLANE_STRIDE(&converted, 0),
                  rowBytes);
    }
    gst_video_frame_unmap(&converted);
  }
  gst_element_set_state(pipeline.get(), GST_STATE_NULL);
  return rows;
}
