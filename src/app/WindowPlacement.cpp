#include "app/WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>

QPoint CentredPosition(const QSize& frame, const QRect& available) {
  QRect placed(QPoint(), frame);
  placed.moveCenter(available.center());
  return {std::max(placed.left(), available.left()), std::max(placed.top(), available.top())};
}

void CentreOnScreen(QWidget& window) {
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    // A top-level widget's position is its frame's.
    window.move(CentredPosition(window.frameGeometry().size(), screen->availableGeometry()));
  }
}
