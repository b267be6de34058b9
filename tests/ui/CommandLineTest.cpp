#include "app/CommandLine.h"

#include <gtest/gtest.h>

namespace {

// Qt's own options must reach the application; the program's own are --help and --version.
TEST(CommandLineTest, QtOptionsPassAndOthersEndTheProgram) {
  const struct {
    QStringList arguments;
    int status;
  } cases[] = {
      {{}, -1},
      {{"-platform", "wayland"}, -1},
      {{"-style", "fusion", "-reverse"}, -1},
      {{"--platform=offscreen"}, -1},
      {{"--version"}, 0},
      {{"-h"}, 0},
      {{"-x"}, 2},
      {{"--platform"}, 2},  // a value is missing
      {{"--", "file"}, 2},
  };
  for (const auto& c : cases) {
    const CommandLineOutcome outcome = ParseCommandLine(QStringList{"stillwick"} + c.arguments);
    EXPECT_EQ(outcome.exitStatus, c.status) << c.arguments.join(' ').toStdString();
    EXPECT_EQ(outcome.err.isEmpty(), c.status != 2) << c.arguments.join(' ').toStdString();
  }
}

}  // namespace
