#pragma once
// A panel with the classic one-pixel bevels: an outer and an inner ring, each raised, lowered
// or absent. Its client area lies inside the rings.

#include <QFrame>

class TPanel : public QFrame {
  Q_OBJECT
 public:
  enum class Bevel { None, Lowered, Raised };

  explicit TPanel(QWidget* parent = nullptr);
  void SetBevels(Bevel outer, Bevel inner);
  // Width of the rings together: what the client area is inset by on every side.
  int BevelWidth() const noexcept;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Bevel outer_ = Bevel::Raised;
  Bevel inner_ = Bevel::None;
};
