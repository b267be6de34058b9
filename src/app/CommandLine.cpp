#include "app/CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace {
// The options QGuiApplication and QApplication take for themselves, with and without a value.
const char* const kQtValueOptions[] = {
    "platform",    "platformpluginpath", "platformtheme", "plugin",    "qwindowgeometry",
    "qwindowicon", "qwindowtitle",       "session",       "display",   "geometry",
    "style",       "stylesheet",         "qmljsdebugger", "fontengine"};
const char* const kQtFlagOptions[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};
}  // namespace

CommandLineOutcome ParseCommandLine(const QStringList& arguments) {
  QCommandLineParser parser;
  // Qt's options are written with one dash ("-platform wayland").
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  parser.setApplicationDescription(
      QStringLiteral("Takes still pictures from a live video source (a camera or a capture card) "
                     "and writes them as numbered BMP files."));
  const QCommandLineOption help = parser.addHelpOption();
  const QCommandLineOption version = parser.addVersionOption();
  for (const char* name : kQtValueOptions) {
    QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
    option.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(option);
  }
  for (const char* name : kQtFlagOptions) {
    QCommandLineOption option(QString::fromLatin1(name));
    option.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(option);
  }

  CommandLineOutcome outcome;
  if (!parser.parse(arguments)) {
    outcome.exitStatus = 2;
    outcome.err = parser.errorText() + QLatin1Char('\n') + parser.helpText();
  } else if (!parser.positionalArguments().isEmpty()) {
    outcome.exitStatus = 2;
    outcome.err =
        QStringLiteral("Unexpected argument '%1'.\n").arg(parser.positionalArguments().first()) +
        parser.helpText();
  } else if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
    outcome.exitStatus = 0;
    outcome.out = parser.helpText();
  } else if (parser.isSet(version)) {
    outcome.exitStatus = 0;
    outcome.out = QCoreApplication::applicationName() + QLatin1Char(' ') +
                  QCoreApplication::applicationVersion() + QLatin1Char('\n');
  }
  return outcome;
}
