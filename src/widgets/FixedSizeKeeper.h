#pragma once
// Keeps a fixed-size top-level window at its size when it is asked to be maximized or full
// screen: by a window decoration's button (Qt draws one on Wayland whatever the window's size
// rules), by the compositor, or by code. Main thread only.
//
// On Wayland a compositor that has configured a window maximized requires its next frames at
// exactly the configured size, or it ends the connection (and with it the program). So there the
// window may take that size for the frames until the compositor has seen the request to come
// back, and then returns to its fixed size.

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <QWindow>

class FixedSizeKeeper : public QObject {
  Q_OBJECT
 public:
  // Watches `window` (a top-level widget of fixed size) for as long as both live.
  explicit FixedSizeKeeper(QWidget* window);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void WatchWindowHandle();
  void Restore();

  QPointer<QWidget> window_;
  QPointer<QWindow> watchedHandle_;  // a window made anew (new flags, say) is watched anew
  bool restorePending_ = false;
};
