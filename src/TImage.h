#pragma once
// The display area: shows the display picture stretched over its whole size, whatever the
// picture's size (the aspect ratio is not kept). Repaints run on the main thread only; a
// change of picture on another thread merely posts one.

#include <QImage>
#include <QMetaMethod>
#include <QWidget>

#include <atomic>

class TBitmap;
class Dib;

class TImage : public QWidget {
  Q_OBJECT
 public:
  TImage(TBitmap& picture, QWidget* parent = nullptr);

  // Any thread, from the picture's change callback: asks for one repaint on the main thread.
  // Calls that come while one is pending are folded into it.
  void RequestRepaint() noexcept;

  // A QImage over the Dib's own pixels (no copy), rows in storage order; null when the
  // format is not one the screen draws directly.
  static QImage ImageOver(const Dib& dib);
  // The same, writable: painting on it paints on the Dib.
  static QImage ImageOver(Dib& dib);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private Q_SLOTS:
  void RepaintNow();

 private:
  TBitmap& picture_;
  std::atomic<bool> repaintPending_{false};
  // Resolved once: posting through it lets Qt build the queued call itself, so the streaming
  // thread writes nothing the main thread reads but the flag above.
  const QMetaMethod repaintNow_;
};
