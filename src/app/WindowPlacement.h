#pragma once
// Where a new top-level window goes: centred on the screen's available area, but never with
// its top-left corner (and so its title bar) beyond the top or left edge, as happens when the
// window is larger than the screen (a small screen, or a large scale factor).

#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

// Top-left corner for a frame of `frame` size on `available`.
QPoint CentredPosition(const QSize& frame, const QRect& available);

// Moves `window` there on the primary screen.
void CentreOnScreen(QWidget& window);
