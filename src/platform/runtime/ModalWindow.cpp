#include "platform/runtime/ModalWindow.h"

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace {

// Watches one modal window and calls back, once, when it goes; then deletes itself.
class CloseWatch : public QObject {
 public:
  CloseWatch(QWidget* window, std::function<void()> then)
      : QObject(window), then_(std::move(then)) {
    window->installEventFilter(this);
  }
  ~CloseWatch() override {
    // Destroyed with its window: that window is gone too.
    if (then_)
      Later(std::move(then_));
  }

  static void Later(std::function<void()> then) {
    // After the modal loop has unwound; the application outlives every window.
    QTimer::singleShot(0, QCoreApplication::instance(), std::move(then));
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Hide && then_) {
      watched->removeEventFilter(this);
      Later(std::move(then_));
      then_ = nullptr;
      deleteLater();
    }
    return false;
  }

 private:
  std::function<void()> then_;
};

QWidget* ActiveModalWindow() {
  if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
    return nullptr;
  return QApplication::activeModalWidget();
}

}  // namespace

namespace platform {

bool ModalWindowOpen() {
  return ActiveModalWindow() != nullptr;
}

void AfterModalWindowCloses(std::function<void()> then) {
  if (QWidget* window = ActiveModalWindow()) {
    new CloseWatch(window, std::move(then));  // owned by the window, deletes itself
  } else if (QCoreApplication::instance()) {
    CloseWatch::Later(std::move(then));
  }
}

}  // namespace platform
