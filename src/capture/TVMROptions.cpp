#include "capture/TVMROptions.h"

void TVMROptions::SetStreams(unsigned streams) noexcept {
  streams_ = (streams >= 1 && streams <= 16) ? streams : 1;
}
