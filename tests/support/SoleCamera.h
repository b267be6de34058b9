#pragma once
// The one camera a test set up, made as the program makes its source: listed, then bound through
// its moniker. Null, with a test failure, unless exactly one camera is listed.

#include <gst/gst.h>
#include <gtest/gtest.h>

#include "platform/media/DeviceMonitor.h"
#include "platform/media/GstRef.h"
#include "platform/media/Moniker.h"

inline platform::GstRef<GstElement> BindSoleCamera() {
  const auto devices = platform::EnumerateDevices("Video/Source");
  EXPECT_EQ(devices.size(), 1u) << "cameras listed";
  if (devices.size() != 1)
    return {};
  return platform::Moniker::FromDevice(devices[0].device.get(), "Video/Source")->BindToObject();
}
