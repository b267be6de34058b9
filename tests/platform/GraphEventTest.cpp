// Which bus messages count as a lost device, a device that could not be opened, another error
// or a plain notification.
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <string>

#include "platform/media/GraphEvent.h"
#include "platform/media/GstRef.h"

namespace {

using platform::GstRef;

class GraphEventTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pipeline_ = GstRef<GstElement>::Adopt(gst_pipeline_new("graph"));
    source_ = gst_element_factory_make("videotestsrc", "source");
    sink_ = gst_element_factory_make("fakesink", "sink");
    gst_bin_add_many(GST_BIN(pipeline_.get()), source_, sink_, nullptr);
  }
  GstMessage* Error(GstElement* from, GQuark domain, gint code, bool markedLost = false) {
    GError* error = g_error_new_literal(domain, code, "Could not read from resource.");
    GstStructure* details =
        markedLost ? gst_structure_new("details", "device-lost", G_TYPE_BOOLEAN, TRUE, nullptr)
                   : nullptr;
    GstMessage* message =
        gst_message_new_error_with_details(GST_OBJECT(from), error, "debug", details);
    g_error_free(error);
    return message;
  }

  GstRef<GstElement> pipeline_;
  GstElement* source_ = nullptr;  // owned by the pipeline
  GstElement* sink_ = nullptr;
};

TEST_F(GraphEventTest, MessagesMapToEventCodesAndReasons) {
  using F = platform::StreamFailure;
  struct Case {
    const char* what;
    GstMessage* message;
    int code;
    F failure;
    bool live = false;
  };
  const Case cases[] = {
      {"end of a stream that is not live", gst_message_new_eos(GST_OBJECT(pipeline_.get())), 0x01,
       F::None},
      {"end of a live stream", gst_message_new_eos(GST_OBJECT(pipeline_.get())), 0x01,
       F::StreamEnded, true},
      {"source cannot read", Error(source_, GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_READ), 0x1F,
       F::DeviceLost},
      {"source busy", Error(source_, GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_BUSY), 0x03,
       F::DeviceBusy},
      {"source node gone", Error(source_, GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_NOT_FOUND), 0x03,
       F::DeviceNotFound},
      {"source not permitted",
       Error(source_, GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_OPEN_READ_WRITE), 0x03,
       F::DeviceUnopenable},
      {"sink busy", Error(sink_, GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_BUSY), 0x03, F::Other},
      {"sink cannot read", Error(sink_, GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_READ), 0x03,
       F::Other},
      {"source stream failure", Error(source_, GST_STREAM_ERROR, GST_STREAM_ERROR_FAILED), 0x03,
       F::Other},
      {"marked lost by any element", Error(sink_, GST_CORE_ERROR, GST_CORE_ERROR_FAILED, true),
       0x1F, F::DeviceLost},
      {"state change",
       gst_message_new_state_changed(GST_OBJECT(pipeline_.get()), GST_STATE_NULL, GST_STATE_READY,
                                     GST_STATE_VOID_PENDING),
       0x8000 + GST_MESSAGE_STATE_CHANGED, F::None},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    g_object_set(source_, "is-live", c.live, nullptr);
    auto message = GstRef<GstMessage>::Adopt(c.message);
    const platform::GraphEvent event = platform::ClassifyMessage(message.get(), pipeline_.get());
    EXPECT_EQ(event.code, c.code);
    EXPECT_EQ(event.failure, c.failure);
    EXPECT_EQ(event.pipelineStateChanged,
              GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_STATE_CHANGED);
    if (GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_ERROR) {
      // The user reads GStreamer's short text; the developer's log gets its debug text too.
      EXPECT_EQ(event.message, "Could not read from resource.");
      EXPECT_EQ(event.detail, "Could not read from resource. (debug)");
    }
  }
}

}  // namespace
