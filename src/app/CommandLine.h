#pragma once
// The program's command line: --help and --version, nothing else of its own. Qt's own options
// (-platform, -style, -reverse...) pass through to the application unchanged.

#include <QString>
#include <QStringList>

struct CommandLineOutcome {
  // -1: start the program; otherwise end it with this status after printing.
  int exitStatus = -1;
  QString out;  // for standard output
  QString err;  // for standard error
};

// `arguments` as the application has them, the program's name first. Needs a
// QCoreApplication for the usage line.
CommandLineOutcome ParseCommandLine(const QStringList& arguments);
