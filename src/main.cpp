#include "uMain.h"

int main(int argc, char** argv) {
  return RunStillwick(argc, argv);
}
