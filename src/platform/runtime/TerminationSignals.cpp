#include "platform/runtime/TerminationSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>

#include "platform/runtime/ErrorBox.h"

namespace platform {
namespace {

// The write end of the pipe, for the handler; -1 while no instance exists.
std::atomic<int> wakeFd{-1};
static_assert(std::atomic<int>::is_always_lock_free, "read in a signal handler");

// Runs in a signal handler, on whichever thread the signal reached: async-signal-safe calls only.
extern "C" void OnTerminationSignal(int signal) {
  const int savedErrno = errno;
  const auto byte = static_cast<unsigned char>(signal);
  const int fd = wakeFd.load();
  if (fd >= 0)
    (void)!::write(fd, &byte, 1);
  errno = savedErrno;
}

}  // namespace

TerminationSignals::TerminationSignals(std::function<void(int)> onSignal)
    : onSignal_(std::move(onSignal)) {
  if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
    pipe_[0] = pipe_[1] = -1;
    return;  // without a pipe the signals keep their default action: the program still ends
  }
  wakeFd.store(pipe_[1]);
  notifier_ = std::make_unique<QSocketNotifier>(pipe_[0], QSocketNotifier::Read);
  GuardedConnect(notifier_.get(), &QSocketNotifier::activated, this, [this] { Deliver(); });

  struct sigaction action {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (size_t i = 0; i < std::size(kSignals); ++i) {
    if (::sigaction(kSignals[i], nullptr, &former_[i]) != 0 || former_[i].sa_handler == SIG_IGN)
      continue;
    installed_[i] = ::sigaction(kSignals[i], &action, nullptr) == 0;
  }
}

TerminationSignals::~TerminationSignals() {
  Restore();
  wakeFd.store(-1);
  notifier_.reset();
  for (const int fd : pipe_) {
    if (fd >= 0)
      ::close(fd);
  }
}

void TerminationSignals::Restore() noexcept {
  for (size_t i = 0; i < std::size(kSignals); ++i) {
    if (installed_[i])
      ::sigaction(kSignals[i], &former_[i], nullptr);
    installed_[i] = false;
  }
}

void TerminationSignals::Deliver() {
  unsigned char byte = 0;
  if (::read(pipe_[0], &byte, 1) != 1)
    return;
  // Once is enough: later signals act as they did before.
  Restore();
  notifier_->setEnabled(false);
  if (onSignal_)
    onSignal_(byte);
}

}  // namespace platform
