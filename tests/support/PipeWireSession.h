#pragma once
// A private PipeWire session (harness/pipewire-session: its own D-Bus bus, pipewire, wireplumber)
// for the tests of cameras published through PipeWire, and camera nodes without hardware.
//
//   pwtest::Session session;
//   STILLWICK_REQUIRE_PIPEWIRE(session);       // skips, with the reason, where none can start
//   auto camera = session.PublishCamera({"Desk camera", 640, 480, 30});
//   ... EnumerateDevices("Video/Source") lists "Desk camera", made as pipewiresrc ...
//   camera->Freeze();                          // goes quiet, stays listed (an unplug as 0.3.65
//                                              // reports a V4L2 camera's: not at all)
//   camera->Unplug();                          // its node is gone
//
// While a session is up, this process connects to it (PIPEWIRE_RUNTIME_DIR) and the PipeWire
// device provider, which the test main keeps out of results, takes part at its own rank; the
// device monitors are started afresh for each session, so the listing follows it. Every
// wait is bounded; every process started is ended by the destructors, each by its own process
// group. Main thread.

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pwtest {

// A camera node: a live test picture in one mode, published by a gst-launch-1.0 child process
// through pipewiresink in "provide" mode (so it offers exactly that mode).
struct CameraSpec {
  std::string description;  // node.description, the display name the provider gives
  int width = 640;
  int height = 480;
  int fpsNum = 30;
  int fpsDen = 1;
  std::string format = "YUY2";
  // Further node properties, "key=value" each; "object.path=v4l2:/dev/video0" makes the
  // PipeWire provider hide the V4L2 provider, as WirePlumber's V4L2 nodes do.
  std::vector<std::string> properties;
};

class ChildProcess {
 public:
  // Starts argv[0] (looked up on PATH) in a process group of its own; Running() false on failure.
  ChildProcess(const std::vector<std::string>& argv, const std::string& logFile);
  ~ChildProcess();  // Stop()
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t Pid() const noexcept { return pid_; }
  bool Running();
  // The exit status once ended (128 + signal for a signal); nullopt while running.
  std::optional<int> ExitStatus();
  void Signal(int signal) const;
  // TERM to the group, up to `grace` for it to end, then KILL to the group; reaps the child.
  void Stop(std::chrono::milliseconds grace = std::chrono::seconds(5));

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

class Camera {
 public:
  Camera(std::unique_ptr<ChildProcess> process, std::string description);
  const std::string& Description() const noexcept { return description_; }
  pid_t Pid() const noexcept { return process_->Pid(); }
  // Stops sending frames and stays listed: the process is stopped, its node kept.
  void Freeze() const;
  void Thaw() const;
  // Ends the publishing process: the node goes away, the consumer is told nothing.
  void Unplug();

 private:
  std::unique_ptr<ChildProcess> process_;
  std::string description_;
};

class Session {
 public:
  // Starts the session and waits (bounded) until it serves. withRealCameras lets WirePlumber
  // publish the machine's V4L2 cameras; by default it holds only what the test publishes.
  explicit Session(bool withRealCameras = false);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  bool Ready() const noexcept { return ready_; }
  // Why there is no session; empty when Ready().
  const std::string& SkipReason() const noexcept { return skipReason_; }
  const std::string& RuntimeDir() const noexcept { return dir_; }

  // Publishes a camera and waits (bounded) until PipeWire lists its node; null (with a test
  // failure) when it does not appear.
  std::unique_ptr<Camera> PublishCamera(const CameraSpec& spec);
  // Whether PipeWire lists a node of this description now (asked with pw-cli, not GStreamer).
  bool Lists(const std::string& description) const;

 private:
  void AttachThisProcess();
  void DetachThisProcess();

  std::string dir_;
  std::unique_ptr<ChildProcess> daemon_;
  bool ready_ = false;
  std::string skipReason_;
  std::optional<std::string> savedRuntimeDir_;
  int savedProviderRank_ = -1;
  int cameras_ = 0;
};

}  // namespace pwtest

// In a test body: skip it, saying why, when the session could not start.
#define STILLWICK_REQUIRE_PIPEWIRE(session)                                   \
  do {                                                                        \
    if (!(session).Ready())                                                   \
      GTEST_SKIP() << "no PipeWire session here: " << (session).SkipReason(); \
  } while (0)
