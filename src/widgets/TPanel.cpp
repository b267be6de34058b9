#include "widgets/TPanel.h"

#include <QPainter>

TPanel::TPanel(QWidget* parent) : QFrame(parent) {
  setFrameShape(QFrame::NoFrame);
  setAutoFillBackground(true);
}

void TPanel::SetBevels(Bevel outer, Bevel inner) {
  outer_ = outer;
  inner_ = inner;
  setContentsMargins(BevelWidth(), BevelWidth(), BevelWidth(), BevelWidth());
  update();
}

int TPanel::BevelWidth() const noexcept {
  return (outer_ != Bevel::None ? 1 : 0) + (inner_ != Bevel::None ? 1 : 0);
}

void TPanel::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  QPainter painter(this);
  QRect ring = rect().adjusted(0, 0, -1, -1);
  for (Bevel bevel : {outer_, inner_}) {
    if (bevel == Bevel::None)
      continue;
    const QColor light = palette().color(QPalette::Light);
    const QColor dark = palette().color(QPalette::Dark);
    const QColor& topLeft = bevel == Bevel::Raised ? light : dark;
    const QColor& bottomRight = bevel == Bevel::Raised ? dark : light;
    painter.setPen(topLeft);
    painter.drawLine(ring.topLeft(), ring.topRight());
    painter.drawLine(ring.topLeft(), ring.bottomLeft());
    painter.setPen(bottomRight);
    painter.drawLine(ring.bottomLeft(), ring.bottomRight());
    painter.drawLine(ring.topRight(), ring.bottomRight());
    ring.adjust(1, 1, -1, -1);
  }
}
