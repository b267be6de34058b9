// The benchmark program: every figure beside a baseline measured in the same run. Speed never
// fails the run; a step that cannot be carried out (or an error the program reports) does.
// Usage: stillwick_bench [copy] [start] [live] [busy] [paint] [capture] [lockwait] [burst]
// (default: all)

#include <QApplication>
#include <QTemporaryDir>

#include <algorithm>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <string>
#include <vector>

#include "Bench.h"
#include "HarnessEnvironment.h"
#include "TestCam.h"
#include "platform/runtime/ErrorBox.h"
#include "utPublic.h"

namespace {
std::string LoadAverage() {
  std::ifstream file("/proc/loadavg");
  std::string one, five, fifteen;
  file >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}
}  // namespace

int main(int argc, char** argv) {
  using namespace bench;
  const std::string buildDir = STILLWICK_BENCH_BUILD_DIR;
  harness::PrepareEnvironment(buildDir + "/gst-registry-bench.bin");
  QApplication app(argc, argv);
  harness::StartMedia(argc, argv);

  // Beside the build, so pictures land on the file system a user's folder would be on.
  QTemporaryDir scratch(QString::fromStdString(buildDir) + "/bench-XXXXXX");
  if (!scratch.isValid()) {
    std::fprintf(stderr, "cannot make a scratch folder in %s\n", buildDir.c_str());
    return 1;
  }
  const std::string loadBefore = LoadAverage();
  Report report;
  SetIniFileNameForTesting(scratch.filePath("参数设置.INI").toStdString());
  SetErrorPresenter([&](const std::string& text) { report.Error("program", text); });
  Context context{report, buildDir, scratch.path()};

  const std::vector<Group>& groups = Groups();
  for (int i = 1; i < argc; ++i) {
    if (std::none_of(groups.begin(), groups.end(),
                     [&](const Group& g) { return std::strcmp(g.name, argv[i]) == 0; })) {
      std::fprintf(stderr, "unknown benchmark group \"%s\"\n", argv[i]);
      return 2;
    }
  }
  for (const Group& group : groups) {
    const bool chosen = argc == 1 || std::any_of(argv + 1, argv + argc, [&](const char* a) {
                          return std::strcmp(a, group.name) == 0;
                        });
    if (!chosen)
      continue;
    std::printf("== %s\n", group.name);
    std::fflush(stdout);
    const auto started = Clock::now();
    try {
      group.run(context);
    } catch (const std::exception& e) {
      report.Error(group.name, e.what());
    }
    TestCamSetCameras({});
    std::printf("  (%.1f s)\n", Ms(Clock::now() - started) / 1e3);
  }
  report.PrintTable();
  // Other work on the machine shows in every figure; the ratios hold better than the times.
  std::printf("machine load (1, 5, 15 min): %s before, %s after\n", loadBefore.c_str(),
              LoadAverage().c_str());
  SetErrorPresenter(nullptr);
  return report.Failed() ? 1 : 0;
}
