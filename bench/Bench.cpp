#include "Bench.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <numeric>
#include <sstream>

#include "HarnessEventLoop.h"
#include "HarnessWindow.h"
#include "uMain.h"

extern char** environ;

namespace bench {

double Ms(Clock::duration duration) {
  return std::chrono::duration<double, std::milli>(duration).count();
}

namespace {
double CpuClockMs(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}
}  // namespace

double ProcessCpuMs() {
  return CpuClockMs(CLOCK_PROCESS_CPUTIME_ID);
}
double ThreadCpuMs() {
  return CpuClockMs(CLOCK_THREAD_CPUTIME_ID);
}

double Median(std::vector<double> values) {
  if (values.empty())
    return NAN;
  const size_t middle = values.size() / 2;
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle),
                   values.end());
  const double upper = values[middle];
  if (values.size() % 2 == 1)
    return upper;
  const double lower =
      *std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle));
  return (lower + upper) / 2;
}

double Mean(const std::vector<double>& values) {
  if (values.empty())
    return NAN;
  return std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(values.size());
}

double Max(const std::vector<double>& values) {
  return values.empty() ? NAN : *std::max_element(values.begin(), values.end());
}

double Percentile(std::vector<double> values, double fraction) {
  if (values.empty())
    return NAN;
  std::sort(values.begin(), values.end());
  const auto rank = static_cast<size_t>(std::ceil(fraction * static_cast<double>(values.size())));
  return values[std::clamp<size_t>(rank, 1, values.size()) - 1];
}

std::string Format(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

std::string FormatMs(double ms) {
  if (std::isnan(ms))
    return "n/a";
  if (ms < 0.1)
    return Format("%.1f us", ms * 1e3);
  if (ms < 10)
    return Format("%.2f ms", ms);
  return Format("%.1f ms", ms);
}

std::vector<Group>& Groups() {
  static std::vector<Group> groups;
  return groups;
}

GroupRegistration::GroupRegistration(int order, const char* name, void (*run)(Context&)) {
  auto& groups = Groups();
  groups.push_back({order, name, run});
  std::sort(groups.begin(), groups.end(),
            [](const Group& a, const Group& b) { return a.order < b.order; });
}

// ---------------------------------------------------------------- report

void Report::Add(Line line) {
  std::printf("  %-42s %-13s %-13s %-7s %-9s %s\n", line.name.c_str(), line.figure.c_str(),
              line.baseline.c_str(), line.ratio.c_str(), line.goal.c_str(), line.result.c_str());
  std::fflush(stdout);
  lines_.push_back(std::move(line));
}

void Report::Ratio(const std::string& name, double figureMs, double baselineMs, double limit,
                   const std::string& goal) {
  const double ratio = figureMs / baselineMs;
  const bool known = std::isfinite(ratio);
  Add({name, FormatMs(figureMs), FormatMs(baselineMs), known ? Format("%.2fx", ratio) : "n/a", goal,
       known && ratio <= limit ? "PASS" : "MISS"});
}

void Report::Row(const std::string& name, const std::string& figure, const std::string& baseline,
                 const std::string& ratio, const std::string& goal, bool met) {
  Add({name, figure, baseline, ratio, goal, met ? "PASS" : "MISS"});
}

void Report::Info(const std::string& name, const std::string& figure, const std::string& baseline,
                  const std::string& ratio) {
  Add({name, figure, baseline, ratio, "-", "info"});
}

void Report::Note(const std::string& text) {
  std::printf("  note: %s\n", text.c_str());
  std::fflush(stdout);
}

void Report::Error(const std::string& where, const std::string& text) {
  const std::string line = where + ": " + text;
  std::printf("  ERROR %s\n", line.c_str());
  std::fflush(stdout);
  errors_.push_back(line);
}

void Report::PrintTable() const {
  std::printf("\n%-42s %-13s %-13s %-7s %-9s %s\n", "benchmark", "figure", "baseline", "ratio",
              "goal", "result");
  for (const Line& l : lines_) {
    std::printf("%-42s %-13s %-13s %-7s %-9s %s\n", l.name.c_str(), l.figure.c_str(),
                l.baseline.c_str(), l.ratio.c_str(), l.goal.c_str(), l.result.c_str());
  }
  for (const std::string& e : errors_)
    std::printf("ERROR %s\n", e.c_str());
  std::fflush(stdout);
}

// ---------------------------------------------------------------- event loop

void Pump(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
  loop.exec();
}

void WaitFor(const std::function<bool()>& done, const std::string& what, int ms) {
  if (!harness::WaitFor(done, ms))
    throw BenchError("timed out waiting for " + what);
}

// ---------------------------------------------------------------- the main window

std::unique_ptr<TFrmMain> OpenWindow() {
  return harness::OpenWindow();
}

void StartCamera(TFrmMain& window, const TestCameraSpec& camera) {
  const std::string failed = harness::StartCamera(window, camera);
  if (!failed.empty())
    throw BenchError(failed);
}

// ---------------------------------------------------------------- child processes

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::vector<std::string>& environment, const std::string& logFile,
                           const std::string& workDir)
    : logFile_(logFile) {
  std::vector<std::string> env(environment);
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    const std::string key = entry.substr(0, entry.find('=') + 1);
    const bool overridden = std::any_of(environment.begin(), environment.end(),
                                        [&](const std::string& o) { return o.starts_with(key); });
    if (!overridden)
      env.push_back(entry);
  }
  std::vector<char*> args, envp;
  for (const std::string& a : argv)
    args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (const std::string& e : env)
    envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  if (!workDir.empty())
    posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
  started_ = Clock::now();
  const int error = posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    pid_ = -1;
    throw BenchError("cannot start " + argv[0] + ": " + std::strerror(error));
  }
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

double ChildProcess::CpuMs() const {
  std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
  std::string line;
  if (pid_ <= 0 || !std::getline(stat, line))
    return -1;
  // Fields after the command name, which is in parentheses and may hold spaces.
  std::istringstream fields(line.substr(line.rfind(')') + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14)
      utime = std::stoull(field);
    if (i == 15)
      stime = std::stoull(field);
  }
  return static_cast<double>(utime + stime) * 1e3 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

void ChildProcess::Interrupt() {
  if (pid_ > 0)
    kill(pid_, SIGINT);
}

ChildProcess::Exit ChildProcess::Wait() {
  Exit exit;
  if (pid_ <= 0)
    return exit;
  rusage usage{};
  while (wait4(pid_, &exit.status, 0, &usage) < 0) {
    if (errno != EINTR)
      throw BenchError("wait4 failed");
  }
  pid_ = -1;
  exit.wallMs = Ms(Clock::now() - started_);
  auto ms = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3;
  };
  exit.cpuMs = ms(usage.ru_utime) + ms(usage.ru_stime);
  return exit;
}

std::string ChildProcess::LogTail() const {
  std::ifstream log(logFile_);
  std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
  return text.size() > 600 ? text.substr(text.size() - 600) : text;
}

}  // namespace bench
