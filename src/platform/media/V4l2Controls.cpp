// The V4L2 control interface: VIDIOC_QUERY_EXT_CTRL to list, VIDIOC_QUERYMENU for menu items,
// VIDIOC_G_EXT_CTRLS / VIDIOC_S_EXT_CTRLS for values, V4L2_EVENT_CTRL for changes the driver
// makes itself. The descriptor is non-blocking, so VIDIOC_DQEVENT answers ENOENT instead of
// waiting when nothing is queued.
//
// A driver answers a control call in its own time: uvcvideo sends each one to the camera and
// waits up to 5 s for a camera that has stopped answering. So the descriptor's calls run on a
// thread of the node's own and the main thread waits for each operation only a moment; an
// operation not done by then fails ("the device does not answer"), and so does every later one
// at once until the late one has returned.

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/media/DeviceControls.h"

namespace platform {

namespace {

// Listing reads every control and menu item (a few hundred calls; the first listing of a USB
// camera sends several requests per control), a change one or two: a camera that answers at
// all does so well within these.
constexpr std::chrono::milliseconds kListWait{3000};
constexpr std::chrono::milliseconds kCallWait{1000};
constexpr char kNoAnswer[] = "the device does not answer";

std::string Reason(const std::string& what, int error) {
  return what + ": " + std::strerror(error);
}

// The node's descriptor and the jobs the main thread hands its thread. The thread runs them in
// order; whichever of the two lets go last closes the descriptor.
struct Node {
  explicit Node(V4l2Ioctl call) : ioctl(std::move(call)) {}
  ~Node() {
    if (fd >= 0)
      ::close(fd);
  }
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;

  // The node's thread only. -1 with errno kept, as ioctl(2).
  int Call(unsigned long request, void* arg) const {
    int answer;
    do {
      answer = ioctl(fd, request, arg);
    } while (answer < 0 && errno == EINTR);
    return answer;
  }

  // Written by the opening job or before the thread starts, read after that job is done.
  int fd = -1;
  const V4l2Ioctl ioctl;

  // Guards jobs, closing and every Job's done. Taken by the main thread and the node's thread,
  // never while calling the driver.
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::function<void(Node&)>> jobs;
  bool closing = false;
};

// One operation handed to the node's thread; whatever else it fills is the main thread's to read
// once done is set.
struct Job {
  bool done = false;  // guarded by Node::mutex
};

// The node's thread: our own, not GStreamer's. Jobs run without the lock.
void ServeNode_Thread(const std::shared_ptr<Node>& node) noexcept {
  std::unique_lock lock(node->mutex);
  for (;;) {
    node->changed.wait(lock, [&] { return node->closing || !node->jobs.empty(); });
    if (node->jobs.empty())
      return;
    std::function<void(Node&)> job = std::move(node->jobs.front());
    node->jobs.pop_front();
    lock.unlock();
    job(*node);
    lock.lock();
  }
}

ControlResult Failed(const std::string& what, int error) {
  return {Reason(what, error), error == ENODEV};
}

bool Shown(const v4l2_query_ext_ctrl& query, ControlKind& kind) {
  if (query.flags & (V4L2_CTRL_FLAG_DISABLED | V4L2_CTRL_FLAG_HAS_PAYLOAD))
    return false;
  switch (query.type) {
    case V4L2_CTRL_TYPE_INTEGER:
    case V4L2_CTRL_TYPE_INTEGER64:
      kind = ControlKind::Integer;
      return true;
    case V4L2_CTRL_TYPE_BOOLEAN:
      kind = ControlKind::Boolean;
      return true;
    case V4L2_CTRL_TYPE_MENU:
      kind = ControlKind::Menu;
      return true;
    case V4L2_CTRL_TYPE_INTEGER_MENU:
      kind = ControlKind::IntegerMenu;
      return true;
    case V4L2_CTRL_TYPE_BUTTON:
      kind = ControlKind::Button;
      return true;
    default:  // class headings, strings, bit masks, compound values
      return false;
  }
}

// The calls themselves, on the node's thread.

bool Read(const Node& node, std::uint32_t id, bool wide, std::int64_t& value) {
  v4l2_ext_control one{};
  one.id = id;
  v4l2_ext_controls set{};
  set.which = V4L2_CTRL_WHICH_CUR_VAL;
  set.count = 1;
  set.controls = &one;
  if (node.Call(VIDIOC_G_EXT_CTRLS, &set) < 0)
    return false;
  value = wide ? one.value64 : one.value;
  return true;
}

void ReadMenu(const Node& node, ControlInfo& control) {
  for (std::int64_t index = control.minimum; index <= control.maximum && index >= 0; ++index) {
    v4l2_querymenu item{};
    item.id = control.id;
    item.index = static_cast<std::uint32_t>(index);
    // A driver may leave indexes out (EINVAL); they are no items.
    if (node.Call(VIDIOC_QUERYMENU, &item) < 0)
      continue;
    if (control.kind == ControlKind::IntegerMenu) {
      control.menu.push_back({index, std::to_string(item.value)});
    } else {
      const char* name = reinterpret_cast<const char*>(item.name);
      control.menu.push_back({index, std::string(name, strnlen(name, sizeof item.name))});
    }
  }
}

struct Listing : Job {
  std::vector<ControlInfo> controls;
  ControlResult result;
  std::vector<std::uint32_t> wide;  // controls whose values are 64 bits
  bool subscribed = false;
};

void ListOn(const Node& node, Listing& out) {
  v4l2_query_ext_ctrl query{};
  query.id = V4L2_CTRL_FLAG_NEXT_CTRL;
  while (node.Call(VIDIOC_QUERY_EXT_CTRL, &query) == 0) {
    ControlInfo control;
    if (Shown(query, control.kind)) {
      control.id = query.id;
      control.name.assign(query.name, strnlen(query.name, sizeof query.name));
      control.minimum = query.minimum;
      control.maximum = query.maximum;
      control.step = query.step > 0 ? static_cast<std::int64_t>(query.step) : 1;
      control.defaultValue = query.default_value;
      control.readOnly = query.flags & V4L2_CTRL_FLAG_READ_ONLY;
      control.volatileValue = query.flags & V4L2_CTRL_FLAG_VOLATILE;
      // Grabbed: held while streaming, as inactive as a control under an automatic one.
      control.inactive = query.flags & (V4L2_CTRL_FLAG_INACTIVE | V4L2_CTRL_FLAG_GRABBED);
      const bool wide = query.type == V4L2_CTRL_TYPE_INTEGER64;
      if (wide)
        out.wide.push_back(query.id);
      if (control.kind == ControlKind::Menu || control.kind == ControlKind::IntegerMenu)
        ReadMenu(node, control);
      const bool readable =
          control.kind != ControlKind::Button && !(query.flags & V4L2_CTRL_FLAG_WRITE_ONLY);
      if (readable && !Read(node, control.id, wide, control.value)) {
        if (errno == ENODEV) {
          out.result = Failed(control.name, ENODEV);
          out.controls.clear();
          return;
        }
        control.value = control.defaultValue;
      }
      out.controls.push_back(std::move(control));
    }
    query.id |= V4L2_CTRL_FLAG_NEXT_CTRL;
  }
  // EINVAL ends the list; anything else cut it short.
  if (errno != EINVAL && errno != ENOTTY)
    out.result = Failed("VIDIOC_QUERY_EXT_CTRL", errno);

  out.subscribed = !out.controls.empty();
  for (const ControlInfo& control : out.controls) {
    v4l2_event_subscription subscription{};
    subscription.type = V4L2_EVENT_CTRL;
    subscription.id = control.id;
    // The driver's own follow-ups to our changes (an automatic control greying its manual
    // one) come as events on the descriptor that made the change too.
    subscription.flags = V4L2_EVENT_SUB_FL_ALLOW_FEEDBACK;
    if (node.Call(VIDIOC_SUBSCRIBE_EVENT, &subscription) < 0)
      out.subscribed = false;
  }
}

struct Setting : Job {
  // In.
  ControlInfo control;
  std::int64_t value = 0;
  bool wide = false;
  // Out.
  ControlResult result;
  std::int64_t actual = 0;
};

void SetOn(const Node& node, Setting& job) {
  v4l2_ext_control one{};
  one.id = job.control.id;
  if (job.wide)
    one.value64 = job.value;
  else
    one.value = static_cast<std::int32_t>(job.value);
  v4l2_ext_controls set{};
  set.which = V4L2_CTRL_WHICH_CUR_VAL;
  set.count = 1;
  set.controls = &one;
  if (node.Call(VIDIOC_S_EXT_CTRLS, &set) < 0)
    job.result = Failed(job.control.name, errno);
  // What the driver holds now, whatever became of the request (a button holds nothing).
  job.actual = job.result ? job.value : job.control.value;
  if (job.control.kind != ControlKind::Button && !job.result.deviceGone) {
    std::int64_t held = job.actual;
    if (Read(node, job.control.id, job.wide, held))
      job.actual = held;
  }
}

struct Changes : Job {
  std::vector<std::uint32_t> wide;  // in
  std::vector<ControlChange> changes;
};

void TakeChangesOn(const Node& node, Changes& job) {
  // Bounded: a driver that kept queueing could otherwise hold the thread here.
  for (int i = 0; i < 256; ++i) {
    v4l2_event event{};
    if (node.Call(VIDIOC_DQEVENT, &event) < 0)
      break;
    if (event.type != V4L2_EVENT_CTRL)
      continue;
    ControlChange change;
    change.id = event.id;
    change.valueChanged = event.u.ctrl.changes & V4L2_EVENT_CTRL_CH_VALUE;
    const bool wide = std::find(job.wide.begin(), job.wide.end(), event.id) != job.wide.end();
    change.value = wide ? event.u.ctrl.value64 : event.u.ctrl.value;
    change.flagsChanged = event.u.ctrl.changes & V4L2_EVENT_CTRL_CH_FLAGS;
    change.inactive = event.u.ctrl.flags & (V4L2_CTRL_FLAG_INACTIVE | V4L2_CTRL_FLAG_GRABBED);
    change.readOnly = event.u.ctrl.flags & V4L2_CTRL_FLAG_READ_ONLY;
    job.changes.push_back(change);
  }
}

struct Opening : Job {
  std::string path;  // in
  int error = 0;     // out
};

void OpenOn(Node& node, Opening& job) {
  // Non-blocking: neither the open nor a later VIDIOC_DQEVENT may wait on the device.
  const int fd = ::open(job.path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    job.error = errno;
    return;
  }
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISCHR(status.st_mode)) {
    ::close(fd);
    job.error = ENOTTY;
    return;
  }
  node.fd = fd;
}

// The main thread's side of a node's thread: hands it jobs and waits for them, a while.
class NodeThread {
 public:
  explicit NodeThread(std::shared_ptr<Node> node)
      : node_(std::move(node)), thread_(ServeNode_Thread, node_) {}
  // Never waits for a job that has outlasted its wait: the thread then ends after it.
  ~NodeThread() {
    bool late = false;
    {
      std::lock_guard lock(node_->mutex);
      node_->closing = true;
      late = late_ && !late_->done;
    }
    node_->changed.notify_all();
    if (late)
      thread_.detach();
    else
      thread_.join();
  }
  NodeThread(const NodeThread&) = delete;
  NodeThread& operator=(const NodeThread&) = delete;

  const Node& node() const { return *node_; }

  // Runs work(node, *job) on the node's thread and waits up to `wait` for it; false when it is
  // not done by then, or when an earlier job that was not is still running.
  template <typename J, typename Work>
  bool Run(const std::shared_ptr<J>& job, Work work, std::chrono::milliseconds wait) {
    std::unique_lock lock(node_->mutex);
    if (late_ && !late_->done)
      return false;
    late_.reset();
    node_->jobs.push_back([job, work](Node& node) {
      // Nothing thrown leaves the thread; a job that threw is done with what it had.
      try {
        work(node, *job);
      } catch (...) {
      }
      {
        std::lock_guard done(node.mutex);
        job->done = true;
      }
      node.changed.notify_all();
    });
    node_->changed.notify_all();
    if (node_->changed.wait_for(lock, wait, [&] { return job->done; }))
      return true;
    late_ = job;
    return false;
  }

 private:
  std::shared_ptr<Node> node_;
  std::shared_ptr<const Job> late_;  // the job that outlasted its wait; guarded by node_->mutex
  std::thread thread_;
};

class V4l2Controls final : public DeviceControls {
 public:
  explicit V4l2Controls(std::unique_ptr<NodeThread> thread) : thread_(std::move(thread)) {}

  std::vector<ControlInfo> List(ControlResult& result) override;
  ControlResult Set(const ControlInfo& control, std::int64_t value, std::int64_t& actual) override;
  int EventDescriptor() const override { return subscribed_ ? thread_->node().fd : -1; }
  std::vector<ControlChange> TakeChanges() override;

 private:
  std::unique_ptr<NodeThread> thread_;
  bool subscribed_ = false;
  std::vector<std::uint32_t> wide_;  // of the last listing
};

std::vector<ControlInfo> V4l2Controls::List(ControlResult& result) {
  auto job = std::make_shared<Listing>();
  if (!thread_->Run(job, ListOn, kListWait)) {
    result = {std::string("VIDIOC_QUERY_EXT_CTRL: ") + kNoAnswer, false};
    return {};
  }
  result = job->result;
  wide_ = job->wide;
  subscribed_ = job->subscribed;
  return std::move(job->controls);
}

ControlResult V4l2Controls::Set(const ControlInfo& control, std::int64_t value,
                                std::int64_t& actual) {
  auto job = std::make_shared<Setting>();
  job->control = control;
  job->value = value;
  job->wide = std::find(wide_.begin(), wide_.end(), control.id) != wide_.end();
  if (!thread_->Run(job, SetOn, kCallWait)) {
    actual = control.value;
    return {control.name + ": " + kNoAnswer, false};
  }
  actual = job->actual;
  return job->result;
}

std::vector<ControlChange> V4l2Controls::TakeChanges() {
  auto job = std::make_shared<Changes>();
  job->wide = wide_;
  if (!thread_->Run(job, TakeChangesOn, kCallWait))
    return {};
  return std::move(job->changes);
}

}  // namespace

std::unique_ptr<DeviceControls> V4l2ControlsOver(int fd, V4l2Ioctl ioctl) {
  auto node = std::make_shared<Node>(std::move(ioctl));
  node->fd = fd;
  return std::make_unique<V4l2Controls>(std::make_unique<NodeThread>(std::move(node)));
}

std::unique_ptr<DeviceControls> OpenV4l2Controls(const std::string& path, std::string& failure) {
  auto thread = std::make_unique<NodeThread>(
      std::make_shared<Node>([](int descriptor, unsigned long request, void* arg) {
        return ::ioctl(descriptor, request, arg);
      }));
  auto job = std::make_shared<Opening>();
  job->path = path;
  if (!thread->Run(job, OpenOn, kCallWait)) {
    failure = path + ": " + kNoAnswer;
    return nullptr;
  }
  if (job->error != 0) {
    failure = Reason(path, job->error);
    return nullptr;
  }
  return std::make_unique<V4l2Controls>(std::move(thread));
}

}  // namespace platform
