#pragma once
// The one way errors reach the user. Every event handler runs inside Guarded(): an exception
// ends the handler (its locks are released on the way out) and is shown in the standard error
// box. Nothing throws through Qt or into GStreamer.
//
// One box at a time: a box that comes while one is open is shown after it, and a text already
// open or waiting is not shown twice. Errors of events that arrive on their own (graph events,
// timer ticks) also wait while another modal window (the folder chooser) is open; those of
// the user's input belong to the window that has it, and are shown over it at once.

#include <QObject>

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

class QMessageBox;
class QWidget;

// Shows one message. The application installs the message box; tests install a recorder.
using ErrorPresenter = std::function<void(const std::string& message)>;
void SetErrorPresenter(ErrorPresenter presenter);

// The standard error box over `parent`: critical icon, title "Stillwick", one OK button, the
// message as plain text. It stays on the screen: a word too wide to wrap within half the
// screen's width (a long path) is shown shortened in its middle; the message is not changed.
std::unique_ptr<QMessageBox> MakeErrorMessageBox(QWidget* parent, const std::string& message);

// The text the box shows: a full stop is added when the last character sorts after ".".
std::string ErrorBoxText(const std::string& message);

enum class BoxTiming {
  Now,                // the user's input: over whatever window has it
  AfterModalWindows,  // an event that arrived on its own: once no modal window is open
};

// Formats and presents one error through the installed presenter, as said above.
void ShowErrorBox(const std::string& message, BoxTiming timing = BoxTiming::Now) noexcept;

template <typename F>
void Guarded(F&& handler, BoxTiming timing = BoxTiming::Now) noexcept {
  try {
    std::forward<F>(handler)();
  } catch (const std::exception& e) {
    ShowErrorBox(e.what(), timing);
  } catch (...) {
    ShowErrorBox("Unknown error", timing);
  }
}

// Calls `handler` with the signal's arguments, or with none when it takes none.
template <typename Handler, typename... Args>
void CallHandler(const Handler& handler, Args&&... args) {
  if constexpr (std::is_invocable_v<const Handler&, Args...>) {
    handler(std::forward<Args>(args)...);
  } else {
    handler();
  }
}

// connect() through the guard: `GuardedConnect(button, &QPushButton::clicked, this, [this] {...})`.
template <typename Sender, typename Signal, typename Receiver, typename Handler>
QMetaObject::Connection GuardedConnect(Sender* sender, Signal signal, Receiver* receiver,
                                       Handler handler, BoxTiming timing = BoxTiming::Now) {
  return QObject::connect(
      sender, signal, receiver, [handler = std::move(handler), timing](auto&&... args) {
        // Through a tuple: clang 14 cannot expand a captured pack in a
        // nested lambda.
        auto arguments = std::forward_as_tuple(args...);
        Guarded([&] { std::apply([&](auto&... a) { CallHandler(handler, a...); }, arguments); },
                timing);
      });
}
