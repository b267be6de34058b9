#pragma once
// The V4L2 device node behind a pipeline's source, asked on a second descriptor whether another
// program holds its stream. pipewiresrc never says so: PipeWire fails to start the camera
// (VIDIOC_S_FMT: EBUSY) and the stream just waits. Main thread.

#include <gst/gst.h>

#include <string>

namespace platform {

// The node (e.g. "/dev/video0") when the pipeline's source was made from a V4L2 device (listed
// by PipeWire or by the V4L2 provider) and another program holds that node's stream; empty
// otherwise, also when the node cannot be opened or is no V4L2 capture device, and for a v4l2src
// source, which reports a busy device itself.
std::string SourceNodeInUse(GstElement* pipeline);

}  // namespace platform
