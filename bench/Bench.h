#pragma once
// What every benchmark group shares: clocks and statistics, the result table, the main window
// over one chosen test camera, and child processes for the command-line baselines.

#include <sys/types.h>

#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "TestCam.h"

class TFrmMain;

namespace bench {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration duration);
double ProcessCpuMs();  // CPU time of the whole process so far
double ThreadCpuMs();   // CPU time of the calling thread so far

double Median(std::vector<double> values);
double Mean(const std::vector<double>& values);
double Max(const std::vector<double>& values);
// The value below which `fraction` of the values lie (nearest rank).
double Percentile(std::vector<double> values, double fraction);

std::string FormatMs(double ms);
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A step of a benchmark that could not be carried out; its group ends, the run fails.
struct BenchError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The result table. Rows are printed as they come and again, together, at the end.
class Report {
 public:
  // A figure against its baseline; met when figure / baseline <= limit.
  void Ratio(const std::string& name, double figureMs, double baselineMs, double limit,
             const std::string& goal);
  // A figure whose goal is not a ratio; `ratio` may be "-".
  void Row(const std::string& name, const std::string& figure, const std::string& baseline,
           const std::string& ratio, const std::string& goal, bool met);
  // A figure shown for context, without a goal.
  void Info(const std::string& name, const std::string& figure, const std::string& baseline,
            const std::string& ratio = "-");
  void Note(const std::string& text);
  void Error(const std::string& where, const std::string& text);
  bool Failed() const noexcept { return !errors_.empty(); }
  void PrintTable() const;

 private:
  struct Line {
    std::string name, figure, baseline, ratio, goal, result;
  };
  void Add(Line line);
  std::vector<Line> lines_;
  std::vector<std::string> errors_;
};

struct Context {
  Report& report;
  std::string buildDir;
  QString scratch;  // a private folder on the same file system as the build
};

// Runs the event loop for `ms`, sleeping while there is nothing to do.
void Pump(int ms);
// Runs the event loop until `done` holds; BenchError naming `what` after `ms`.
void WaitFor(const std::function<bool()>& done, const std::string& what, int ms = 20000);

// A main window, shown (offscreen), settings in the scratch folder's settings file.
std::unique_ptr<TFrmMain> OpenWindow();
// Lists `camera` alone, picks it, presses "启动采集" and waits for its first frame in the display.
void StartCamera(TFrmMain& window, const TestCameraSpec& camera);

// A child process with extra environment, its output in `logFile`.
class ChildProcess {
 public:
  ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
               const std::string& logFile, const std::string& workDir = {});
  ~ChildProcess();  // a child still running is killed
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // CPU time of all its threads so far (10 ms steps); -1 once it has gone.
  double CpuMs() const;
  void Interrupt();
  struct Exit {
    int status = -1;  // as waitpid reports it
    double wallMs = 0;
    double cpuMs = 0;  // user + system, from its resource usage
  };
  Exit Wait();
  // The end of its log, for error messages.
  std::string LogTail() const;

 private:
  pid_t pid_ = -1;
  std::string logFile_;
  Clock::time_point started_;
};

// The benchmark groups, one per file, each registering itself:
//   const GroupRegistration registration{30, "paint", DisplayPaintBench};
// They run by `order`.
struct Group {
  int order;
  const char* name;
  void (*run)(Context& context);
};
std::vector<Group>& Groups();
struct GroupRegistration {
  GroupRegistration(int order, const char* name, void (*run)(Context& context));
};

}  // namespace bench
