#include "PipeWireSession.h"

#include <fcntl.h>
#include <gst/gst.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include "platform/media/DeviceMonitor.h"
#include "platform/media/GstRef.h"

extern char** environ;

namespace pwtest {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr char kProvider[] = "pipewiredeviceprovider";
// The rank the PipeWire plugin registers its provider with (src/gst/gstpipewire.c).
constexpr int kProviderRank = GST_RANK_PRIMARY + 1;
constexpr auto kSessionStart = 20s;  // the script gives each daemon 10 s
constexpr auto kNodeAppears = 10s;
constexpr auto kPoll = 50ms;

std::string SessionScript() {
  // tests/support/ -> the source tree
  return (std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "harness" /
          "pipewire-session")
      .string();
}

template <typename Predicate>
bool WaitFor(std::chrono::milliseconds limit, Predicate done) {
  const auto end = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() >= end)
      return false;
    std::this_thread::sleep_for(kPoll);
  }
  return true;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
    text.pop_back();
  return text;
}

// This process's environment with `overrides` ("NAME=value") in place of their names.
std::vector<std::string> EnvironmentWith(const std::vector<std::string>& overrides) {
  std::vector<std::string> result;
  for (char** entry = environ; *entry; ++entry) {
    const std::string text = *entry;
    const std::string name = text.substr(0, text.find('='));
    bool replaced = false;
    for (const auto& o : overrides)
      replaced = replaced || o.compare(0, name.size() + 1, name + "=") == 0;
    if (!replaced)
      result.push_back(text);
  }
  result.insert(result.end(), overrides.begin(), overrides.end());
  return result;
}

std::vector<char*> CStrings(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  pointers.reserve(strings.size() + 1);
  for (auto& s : strings)
    pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

// A node property as pipewiresink's stream-properties structure text takes it.
std::string Quoted(const std::string& value) {
  return "\\\"" + value + "\\\"";
}

}  // namespace

// ---------------------------------------------------------------------------------------------

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& logFile) {
  std::vector<std::string> args = argv;
  // Children never share the test's registry file: they would rewrite it under it.
  std::vector<std::string> env =
      EnvironmentWith({"GST_REGISTRY=" + logFile + ".registry", "GST_PLUGIN_FEATURE_RANK="});
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, logFile.c_str(),
                                   O_WRONLY | O_CREAT | O_APPEND, 0600);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  posix_spawnattr_init(&attributes);
  // A group of its own, so a stop reaches whatever it started and nothing else.
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  pid_t pid = -1;
  if (posix_spawnp(&pid, args[0].c_str(), &actions, &attributes, CStrings(args).data(),
                   CStrings(env).data()) == 0) {
    pid_ = pid;
  }
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
}

ChildProcess::~ChildProcess() {
  Stop();
}

std::optional<int> ChildProcess::ExitStatus() {
  if (pid_ <= 0 || status_)
    return status_;
  // Looked at without reaping: while the leader is unreaped its group id stays its own, so the
  // sweep below cannot reach a stranger that was given the number since.
  siginfo_t info{};
  if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
      info.si_pid != pid_) {
    return std::nullopt;
  }
  ::kill(-pid_, SIGKILL);  // what it left behind in its group
  int status = 0;
  ::waitpid(pid_, &status, 0);
  status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return status_;
}

bool ChildProcess::Running() {
  return pid_ > 0 && !ExitStatus();
}

void ChildProcess::Signal(int signal) const {
  if (pid_ > 0 && !status_)
    ::kill(pid_, signal);
}

void ChildProcess::Stop(std::chrono::milliseconds grace) {
  if (!Running())
    return;
  ::kill(-pid_, SIGTERM);
  ::kill(-pid_, SIGCONT);  // a frozen camera takes its TERM only once it runs
  if (!WaitFor(grace, [this] { return !Running(); })) {
    ::kill(-pid_, SIGKILL);
    WaitFor(grace, [this] { return !Running(); });
  }
}

// ---------------------------------------------------------------------------------------------

Camera::Camera(std::unique_ptr<ChildProcess> process, std::string description)
    : process_(std::move(process)), description_(std::move(description)) {}

void Camera::Freeze() const {
  process_->Signal(SIGSTOP);
}

void Camera::Thaw() const {
  process_->Signal(SIGCONT);
}

void Camera::Unplug() {
  process_->Stop();
}

// ---------------------------------------------------------------------------------------------

Session::Session(bool withRealCameras) {
  auto factory = platform::GstRef<GstDeviceProviderFactory>::Adopt(
      gst_device_provider_factory_find(kProvider));
  if (!factory) {
    skipReason_ = "GStreamer's PipeWire plugin (gstreamer1.0-pipewire) is not installed";
    return;
  }
  char folder[] = "/tmp/stillwick-pipewire-XXXXXX";
  if (!::mkdtemp(folder)) {
    skipReason_ = std::string("cannot make a runtime folder: ") + std::strerror(errno);
    return;
  }
  dir_ = folder;
  std::vector<std::string> argv = {SessionScript(), dir_};
  if (withRealCameras)
    argv.emplace_back("--with-devices");
  daemon_ = std::make_unique<ChildProcess>(argv, dir_ + "/session.log");
  const std::string readyFile = dir_ + "/ready";
  WaitFor(kSessionStart, [&] { return std::filesystem::exists(readyFile) || !daemon_->Running(); });
  if (!std::filesystem::exists(readyFile)) {
    const std::optional<int> status = daemon_->ExitStatus();
    skipReason_ = ReadFile(dir_ + "/skipped");
    if (skipReason_.empty()) {
      skipReason_ = status ? "the session ended with status " + std::to_string(*status)
                           : "the session did not come up within 20 s";
    }
    daemon_->Stop();
    return;
  }
  ready_ = true;
  AttachThisProcess();
}

Session::~Session() {
  if (ready_)
    DetachThisProcess();
  daemon_.reset();
  if (!dir_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
}

void Session::AttachThisProcess() {
  // A started provider stays connected to the daemon it found (an earlier session's, gone by
  // now); the next listing starts anew. Stopped while its daemon runs, 0.3.65's provider
  // corrupts the heap, so it is left started when the session ends.
  platform::StopDeviceMonitors();
  if (const char* old = std::getenv("PIPEWIRE_RUNTIME_DIR"))
    savedRuntimeDir_ = old;
  // Read at every connection, so it takes effect for the provider and pipewiresrc from now on.
  ::setenv("PIPEWIRE_RUNTIME_DIR", dir_.c_str(), 1);
  auto factory = platform::GstRef<GstDeviceProviderFactory>::Adopt(
      gst_device_provider_factory_find(kProvider));
  savedProviderRank_ =
      static_cast<int>(gst_plugin_feature_get_rank(GST_PLUGIN_FEATURE(factory.get())));
  // The monitor reads ranks when it picks its providers, so this reaches every monitor made later.
  gst_plugin_feature_set_rank(GST_PLUGIN_FEATURE(factory.get()), kProviderRank);
}

void Session::DetachThisProcess() {
  auto factory = platform::GstRef<GstDeviceProviderFactory>::Adopt(
      gst_device_provider_factory_find(kProvider));
  if (factory && savedProviderRank_ >= 0)
    gst_plugin_feature_set_rank(GST_PLUGIN_FEATURE(factory.get()),
                                static_cast<guint>(savedProviderRank_));
  if (savedRuntimeDir_)
    ::setenv("PIPEWIRE_RUNTIME_DIR", savedRuntimeDir_->c_str(), 1);
  else
    ::unsetenv("PIPEWIRE_RUNTIME_DIR");
}

bool Session::Lists(const std::string& description) const {
  if (!ready_)
    return false;
  const std::string command = "timeout 5 pw-cli ls Node 2>/dev/null";
  std::unique_ptr<FILE, int (*)(FILE*)> out(::popen(command.c_str(), "r"), ::pclose);
  if (!out)
    return false;
  const std::string wanted = "node.description = \"" + description + "\"";
  char line[1024];
  bool found = false;
  while (std::fgets(line, sizeof line, out.get()))
    found = found || std::strstr(line, wanted.c_str()) != nullptr;
  return found;
}

std::unique_ptr<Camera> Session::PublishCamera(const CameraSpec& spec) {
  if (!ready_) {
    ADD_FAILURE() << "no PipeWire session to publish \"" << spec.description << "\" in";
    return nullptr;
  }
  if (spec.description.find_first_of("\"\\") != std::string::npos) {
    ADD_FAILURE() << "a camera's description holds no quote or backslash";
    return nullptr;
  }
  std::ostringstream caps;
  caps << "video/x-raw,format=" << spec.format << ",width=" << spec.width
       << ",height=" << spec.height << ",framerate=" << spec.fpsNum << "/" << spec.fpsDen;
  std::string properties =
      "props,media.class=Video/Source,node.description=" + Quoted(spec.description);
  for (const std::string& property : spec.properties) {
    const std::size_t equals = property.find('=');
    properties += "," + property.substr(0, equals) + "=" + Quoted(property.substr(equals + 1));
  }
  const std::vector<std::string> argv = {"gst-launch-1.0",
                                         "-q",
                                         "videotestsrc",
                                         "is-live=true",
                                         "!",
                                         caps.str(),
                                         "!",
                                         "pipewiresink",
                                         "mode=provide",
                                         "stream-properties=\"" + properties + "\""};
  const std::string log = dir_ + "/camera" + std::to_string(++cameras_) + ".log";
  auto process = std::make_unique<ChildProcess>(argv, log);
  const bool listed =
      WaitFor(kNodeAppears, [&] { return !process->Running() || Lists(spec.description); }) &&
      process->Running();
  if (!listed) {
    ADD_FAILURE() << "PipeWire did not list camera \"" << spec.description
                  << "\" within 10 s: " << ReadFile(log);
    return nullptr;
  }
  return std::make_unique<Camera>(std::move(process), spec.description);
}

}  // namespace pwtest
