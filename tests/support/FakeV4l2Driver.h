#pragma once
// A V4L2 driver's control ioctls in memory, as the kernel's control framework answers them, with
// the failures a real device gives (busy, unplugged, no answer), for platform::V4l2ControlsOver.
// The calls come from the controls' own thread; the test sets the fields between calls.

#include <linux/videodev2.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/media/DeviceControls.h"

struct FakeV4l2Control {
  v4l2_query_ext_ctrl query{};
  std::vector<std::pair<std::uint32_t, std::string>> menu;  // index, name
  std::int64_t value = 0;
};

class FakeV4l2Driver {
 public:
  static FakeV4l2Control Control(std::uint32_t id, std::uint32_t type, const char* name,
                                 std::int64_t min, std::int64_t max, std::int64_t def,
                                 std::uint32_t flags = 0) {
    FakeV4l2Control c;
    c.query.id = id;
    c.query.type = type;
    std::strncpy(c.query.name, name, sizeof c.query.name - 1);
    c.query.minimum = min;
    c.query.maximum = max;
    c.query.step = 1;
    c.query.default_value = def;
    c.query.flags = flags;
    c.value = def;
    return c;
  }

  std::vector<FakeV4l2Control> controls;
  int setError = 0;  // what VIDIOC_S_EXT_CTRLS answers (0: it sets)
  int allError = 0;  // what every ioctl answers (ENODEV: unplugged)
  std::deque<v4l2_event> events;

  platform::V4l2Ioctl Bind() {
    return [this](int, unsigned long request, void* arg) {
      {
        std::unique_lock lock(gate_);
        gateChanged_.wait(lock, [&] { return !held_; });
      }
      const int answer = Ioctl(request, arg);
      const int error = errno;
      {
        // Told under the lock: a test that saw the count may end and take the driver with it.
        std::lock_guard lock(gate_);
        ++answered_;
        gateChanged_.notify_all();
      }
      errno = error;
      return answer;
    };
  }

  // From Hold() to Release() every call waits: a camera that has stopped answering.
  void Hold() {
    std::lock_guard lock(gate_);
    held_ = true;
  }
  void Release() {
    {
      std::lock_guard lock(gate_);
      held_ = false;
    }
    gateChanged_.notify_all();
  }
  // Calls answered so far; waits (15 s at most) until there are at least `count`.
  int Answered(int count = 0) {
    std::unique_lock lock(gate_);
    gateChanged_.wait_for(lock, std::chrono::seconds(15), [&] { return answered_ >= count; });
    return answered_;
  }

  FakeV4l2Control* Find(std::uint32_t id) {
    for (auto& c : controls) {
      if (c.query.id == id)
        return &c;
    }
    return nullptr;
  }

 private:
  std::mutex gate_;  // guards held_ and answered_: the test's thread and the controls' thread
  std::condition_variable gateChanged_;
  bool held_ = false;
  int answered_ = 0;

  static int Fail(int error) {
    errno = error;
    return -1;
  }

  int Ioctl(unsigned long request, void* arg) {
    if (allError)
      return Fail(allError);
    if (request == VIDIOC_QUERY_EXT_CTRL) {
      auto* q = static_cast<v4l2_query_ext_ctrl*>(arg);
      const bool next = q->id & V4L2_CTRL_FLAG_NEXT_CTRL;
      const std::uint32_t after =
          q->id & ~(V4L2_CTRL_FLAG_NEXT_CTRL | V4L2_CTRL_FLAG_NEXT_COMPOUND);
      for (const auto& c : controls) {
        if (next ? c.query.id > after : c.query.id == after) {
          *q = c.query;
          return 0;
        }
      }
      return Fail(EINVAL);
    }
    if (request == VIDIOC_QUERYMENU) {
      auto* m = static_cast<v4l2_querymenu*>(arg);
      if (FakeV4l2Control* c = Find(m->id)) {
        for (const auto& [index, name] : c->menu) {
          if (index != m->index)
            continue;
          if (c->query.type == V4L2_CTRL_TYPE_INTEGER_MENU)
            m->value = std::stoll(name);
          else
            std::strncpy(reinterpret_cast<char*>(m->name), name.c_str(), sizeof m->name - 1);
          return 0;
        }
      }
      return Fail(EINVAL);
    }
    if (request == VIDIOC_G_EXT_CTRLS || request == VIDIOC_S_EXT_CTRLS) {
      auto* set = static_cast<v4l2_ext_controls*>(arg);
      FakeV4l2Control* c = Find(set->controls[0].id);
      if (!c)
        return Fail(EINVAL);
      const bool wide = c->query.type == V4L2_CTRL_TYPE_INTEGER64;
      if (request == VIDIOC_G_EXT_CTRLS) {
        if (wide)
          set->controls[0].value64 = c->value;
        else
          set->controls[0].value = static_cast<std::int32_t>(c->value);
        return 0;
      }
      if (setError)
        return Fail(setError);
      c->value = wide ? set->controls[0].value64 : set->controls[0].value;
      return 0;
    }
    if (request == VIDIOC_SUBSCRIBE_EVENT)
      return 0;
    if (request == VIDIOC_DQEVENT) {
      if (events.empty())
        return Fail(ENOENT);
      *static_cast<v4l2_event*>(arg) = events.front();
      events.pop_front();
      return 0;
    }
    return Fail(ENOTTY);
  }
};
