#include "uMain.h"

#include <QApplication>

int RunStillwick(int argc, char** argv) {
  QApplication app(argc, argv);
  return 0;
}
