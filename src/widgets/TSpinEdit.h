#pragma once
// A number field: a line edit with two small arrow buttons at its right, inside the sunken
// two-pixel frame of an ordinary number field.
//
// Its value is the whole number its text spells (TryStrToInt), else its minimum. Values set by
// the program or produced by an arrow are clamped to the limits; typed text is clamped only
// when the field loses the focus, and a text that spells no number is then left as typed.
// Only digits, signs, the decimal separator and control keys other than Enter can be typed.

#include <QFrame>
#include <QLineEdit>
#include <QToolButton>
#include <QValidator>

#include <cstdint>

class TSpinEdit : public QFrame {
  Q_OBJECT
 public:
  explicit TSpinEdit(QWidget* parent = nullptr);
  ~TSpinEdit() override;

  void SetMinValue(int32_t value) { min_ = value; }
  int32_t MinValue() const noexcept { return min_; }
  void SetMaxValue(int32_t value);
  // MaxValue() then reads INT32_MAX: only the minimum is enforced. Also the initial state.
  void SetNoMaximum() { hasMax_ = false; }
  int32_t MaxValue() const noexcept;

  // Longest text the user can type or paste; 0 = no limit. Unlike QLineEdit::maxLength this
  // never cuts text set by the program (a stored start number of 12345 stays whole).
  void SetMaxLength(int length);

  int32_t Value() const;
  // Clamped to the limits; the text is rewritten (Changed when it differs).
  void SetValue(int32_t value);
  QString Text() const;
  // Taken as it is, not clamped.
  void SetText(const QString& text);

  QLineEdit* Editor() const noexcept { return const_cast<QLineEdit*>(&editor_); }

 Q_SIGNALS:
  // Every change of the text, by the user or the program, exactly once.
  void Changed();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  // Refuses user edits that make the text longer than the limit.
  class LengthLimit : public QValidator {
   public:
    explicit LengthLimit(TSpinEdit* owner) : QValidator(owner), owner_(owner) {}
    State validate(QString& input, int& pos) const override;

   private:
    TSpinEdit* owner_;
  };

  int32_t Clamp(int64_t value) const noexcept;
  void Step(int delta);
  bool KeyPress(QKeyEvent* event);

  int32_t min_ = 0;
  int32_t max_ = 0;
  bool hasMax_ = false;
  int maxLength_ = 0;
  // Length of the text before the edit being validated; an edit may shorten an over-long text.
  qsizetype committedLength_ = 0;

  QLineEdit editor_{this};
  QToolButton up_{this};
  QToolButton down_{this};
  LengthLimit lengthLimit_{this};
};
