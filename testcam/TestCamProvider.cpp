// The "stillwickcameras" device provider: offers the camera list by probe, and while started
// keeps its devices in step with the list and its schedule, posting device-added and
// device-removed.

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "TestCamDevice.h"

#define GST_CAT_DEFAULT stillwick_testcam_debug

namespace {

struct ObjectUnref {
  void operator()(GstDevice* d) const noexcept { gst_object_unref(d); }
};
using DeviceRef = std::unique_ptr<GstDevice, ObjectUnref>;

struct Published {
  std::uint64_t id;
  DeviceRef device;
};

}  // namespace

struct _StillwickTestCamProvider {
  GstDeviceProvider parent;
  std::vector<Published> published;  // in the provider's order; guarded by Publishing().mutex
};

G_DEFINE_TYPE(StillwickTestCamProvider, stillwick_test_cam_provider, GST_TYPE_DEVICE_PROVIDER)

namespace {

struct PublishingState {
  // Serialises every change of what started providers publish, and guards `started`, each
  // provider's `published` and `following`. Taken on the main thread (list changes), on
  // whatever thread a monitor starts or stops a provider, and by the schedule's thread. Taken
  // before the camera list's own lock.
  std::mutex mutex;
  std::vector<StillwickTestCamProvider*> started;
  // Wakes the schedule's thread when the list changed.
  std::condition_variable listChanged;
  bool following = false;  // the schedule's thread runs
};

// Never destroyed: the schedule's thread may wait on it until the process ends.
PublishingState& Publishing() {
  static auto* state = new PublishingState();
  return *state;
}

void Remove(StillwickTestCamProvider* self, std::vector<Published>::iterator first,
            std::vector<Published>::iterator last) {
  for (auto it = first; it != last; ++it) {
    gst_device_provider_device_remove(GST_DEVICE_PROVIDER(self), it->device.get());
  }
  self->published.erase(first, last);
}

// Brings a started provider's devices in line with the list. Cameras that left are removed;
// from the first place where the order differs, devices are removed and added again, so the
// provider's order (which monitors list) is always the list's order.
void SyncLocked(StillwickTestCamProvider* self, const std::vector<testcam::CameraEntry>& entries) {
  auto& published = self->published;
  auto gone = std::stable_partition(published.begin(), published.end(), [&](const Published& p) {
    return std::any_of(entries.begin(), entries.end(),
                       [&](const testcam::CameraEntry& e) { return e.id == p.id; });
  });
  Remove(self, gone, published.end());

  size_t same = 0;
  while (same < published.size() && same < entries.size() &&
         published[same].id == entries[same].id) {
    ++same;
  }
  Remove(self, published.begin() + static_cast<std::ptrdiff_t>(same), published.end());

  for (size_t i = same; i < entries.size(); ++i) {
    DeviceRef device(GST_DEVICE(gst_object_ref_sink(testcam::NewCameraDevice(entries[i]))));
    gst_device_provider_device_add(GST_DEVICE_PROVIDER(self), device.get());
    published.push_back({entries[i].id, std::move(device)});
  }
}

void Unregister(StillwickTestCamProvider* self) {
  auto& started = Publishing().started;
  started.erase(std::remove(started.begin(), started.end(), self), started.end());
  self->published.clear();
}

GList* stillwick_test_cam_provider_probe(GstDeviceProvider*) {
  GList* devices = nullptr;
  for (const testcam::CameraEntry& e : testcam::CurrentCameras()) {
    devices = g_list_prepend(devices, testcam::NewCameraDevice(e));
  }
  return g_list_reverse(devices);
}

// The schedule's thread: cameras due to arrive or leave do so in started providers too, as
// hot-plugged devices do in a started V4L2 provider. Our own thread, for the process's life.
void FollowSchedule_Thread() noexcept {
  PublishingState& state = Publishing();
  std::unique_lock lock(state.mutex);
  for (;;) {
    if (const auto next = testcam::NextScheduledChange()) {
      state.listChanged.wait_until(lock, *next);
    } else {
      state.listChanged.wait(lock);
    }
    const std::vector<testcam::CameraEntry> entries = testcam::CurrentCameras();
    for (StillwickTestCamProvider* provider : state.started)
      SyncLocked(provider, entries);
  }
}

gboolean stillwick_test_cam_provider_start(GstDeviceProvider* provider) {
  auto* self = STILLWICK_TEST_CAM_PROVIDER(provider);
  std::lock_guard lock(Publishing().mutex);
  Publishing().started.push_back(self);
  SyncLocked(self, testcam::CurrentCameras());
  if (!Publishing().following) {
    Publishing().following = true;
    std::thread(FollowSchedule_Thread).detach();
  }
  return TRUE;
}

void stillwick_test_cam_provider_stop(GstDeviceProvider* provider) {
  // The base class drops the devices once stop returns.
  std::lock_guard lock(Publishing().mutex);
  Unregister(STILLWICK_TEST_CAM_PROVIDER(provider));
}

void stillwick_test_cam_provider_finalize(GObject* object) {
  auto* self = STILLWICK_TEST_CAM_PROVIDER(object);
  {
    std::lock_guard lock(Publishing().mutex);
    Unregister(self);
  }
  using PublishedList = std::vector<Published>;
  self->published.~PublishedList();
  G_OBJECT_CLASS(stillwick_test_cam_provider_parent_class)->finalize(object);
}

}  // namespace

static void stillwick_test_cam_provider_class_init(StillwickTestCamProviderClass* klass) {
  GstDeviceProviderClass* provider_class = GST_DEVICE_PROVIDER_CLASS(klass);
  G_OBJECT_CLASS(klass)->finalize = stillwick_test_cam_provider_finalize;
  provider_class->probe = stillwick_test_cam_provider_probe;
  provider_class->start = stillwick_test_cam_provider_start;
  provider_class->stop = stillwick_test_cam_provider_stop;
  gst_device_provider_class_set_static_metadata(provider_class, "Stillwick test cameras",
                                                "Source/Video", "Lists the Stillwick test cameras",
                                                "Stillwick developers <stillwick@localhost>");
}

static void stillwick_test_cam_provider_init(StillwickTestCamProvider* self) {
  new (&self->published) std::vector<Published>();
}

void TestCamSetCameras(const std::vector<TestCameraSpec>& cameras) {
  std::lock_guard lock(Publishing().mutex);
  const std::vector<testcam::CameraEntry> entries = testcam::SetCurrentCameras(cameras);
  testcam::UnplugCamerasNotIn(entries);
  for (StillwickTestCamProvider* provider : Publishing().started) {
    SyncLocked(provider, entries);
  }
  Publishing().listChanged.notify_all();
}
