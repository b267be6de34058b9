#pragma once
// The one way errors reach the user. Every event handler runs inside Guarded(): an exception
// ends the handler (its locks are released on the way out) and is shown in the standard error
// box. Nothing throws through Qt or into GStreamer.

#include <QObject>

#include <exception>
#include <functional>
#include <string>
#include <type_traits>
#include <utility>

// Shows one message. The application installs the message box; tests install a recorder.
using ErrorPresenter = std::function<void(const std::string& message)>;
void SetErrorPresenter(ErrorPresenter presenter);

// The text the box shows: a full stop is added when the last character sorts after ".".
std::string ErrorBoxText(const std::string& message);

// Formats and presents one error through the installed presenter.
void ShowErrorBox(const std::string& message) noexcept;

template <typename F>
void Guarded(F&& handler) noexcept {
  try {
    std::forward<F>(handler)();
  } catch (const std::exception& e) {
    ShowErrorBox(e.what());
  } catch (...) {
    ShowErrorBox("Unknown error");
  }
}

// connect() through the guard: `GuardedConnect(button, &QPushButton::clicked, this, [this] {...})`.
template <typename Sender, typename Signal, typename Receiver, typename Handler>
QMetaObject::Connection GuardedConnect(Sender* sender, Signal signal, Receiver* receiver,
                                       Handler handler) {
  return QObject::connect(sender, signal, receiver, [handler = std::move(handler)](auto&&... args) {
    Guarded([&] {
      // A handler may ignore the signal's arguments.
      if constexpr (std::is_invocable_v<const Handler&, decltype(args)...>) {
        handler(std::forward<decltype(args)>(args)...);
      } else {
        handler();
      }
    });
  });
}
