#pragma once
// SIGTERM, SIGINT and SIGHUP (kill, Ctrl-C in a terminal, the end of a session) end the program
// the way a close of its window does, so the graph is stopped and its registry entry withdrawn.
//
// The signal handler only writes the signal's number to a pipe; a socket notifier reads it on
// the main thread and calls `onSignal` there, where anything may be done. After the first
// signal the default action is back, so a second one ends a program that hangs while closing.
// A signal ignored when the program started (nohup, a background job) stays ignored. One
// instance at a time; main thread only.

#include <signal.h>

#include <QObject>

#include <functional>
#include <memory>

class QSocketNotifier;

namespace platform {

class TerminationSignals : public QObject {
 public:
  explicit TerminationSignals(std::function<void(int signal)> onSignal);
  ~TerminationSignals() override;  // the former handlers are back
  TerminationSignals(const TerminationSignals&) = delete;
  TerminationSignals& operator=(const TerminationSignals&) = delete;

  static constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

 private:
  void Deliver();
  void Restore() noexcept;

  std::function<void(int)> onSignal_;
  int pipe_[2] = {-1, -1};
  struct sigaction former_[3] = {};
  bool installed_[3] = {};
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace platform
