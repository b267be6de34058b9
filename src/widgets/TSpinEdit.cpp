#include "widgets/TSpinEdit.h"

#include <QApplication>
#include <QFocusEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QToolButton>
#include <QValidator>

#include <algorithm>
#include <string>

#include "utPublic.h"

namespace {
constexpr int kButtonWidth = 15;

// Digits, signs and the locale's decimal separator: what a number field lets the user type.
bool TypeableText(const QString& text) {
  const QString decimal = QLocale().decimalPoint();
  for (const QChar c : text) {
    if (!(c >= u'0' && c <= u'9') && c != u'+' && c != u'-' && !decimal.contains(c)) {
      return false;
    }
  }
  return true;
}
}  // namespace

// QLineEdit's own maxLength would also cut text set by the program; an edit that shortens an
// over-long text stays possible.
QValidator::State TSpinEdit::LengthLimit::validate(QString& input, int& /*pos*/) const {
  const int limit = owner_->maxLength_;
  const bool grows = input.size() > owner_->committedLength_;
  return limit > 0 && grows && input.size() > limit ? Invalid : Acceptable;
}

TSpinEdit::TSpinEdit(QWidget* parent) : QFrame(parent) {
  setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
  editor_.setFrame(false);
  editor_.setText(QStringLiteral("0"));
  committedLength_ = editor_.text().size();
  editor_.setValidator(&lengthLimit_);
  editor_.installEventFilter(this);
  setFocusProxy(&editor_);
  setFocusPolicy(editor_.focusPolicy());

  for (QToolButton* button : {&up_, &down_}) {
    button->setFocusPolicy(Qt::NoFocus);
    button->setAutoRepeat(true);
  }
  up_.setArrowType(Qt::UpArrow);
  down_.setArrowType(Qt::DownArrow);
  connect(&up_, &QToolButton::clicked, this, [this] { Step(1); });
  connect(&down_, &QToolButton::clicked, this, [this] { Step(-1); });
  connect(&editor_, &QLineEdit::textChanged, this, [this](const QString& text) {
    committedLength_ = text.size();
    Q_EMIT Changed();
  });
}

// A focused editor gets a focus-out while it is destroyed; by then this object is half gone.
TSpinEdit::~TSpinEdit() {
  editor_.removeEventFilter(this);
}

void TSpinEdit::SetMaxValue(int32_t value) {
  max_ = value;
  hasMax_ = true;
}

int32_t TSpinEdit::MaxValue() const noexcept {
  return hasMax_ ? max_ : INT32_MAX;
}

void TSpinEdit::SetMaxLength(int length) {
  maxLength_ = length < 0 ? 0 : length;
}

int32_t TSpinEdit::Value() const {
  int32_t value = 0;
  return TryStrToInt(Text().toStdString(), value) ? value : min_;
}

void TSpinEdit::SetValue(int32_t value) {
  SetText(QString::number(Clamp(value)));
}

QString TSpinEdit::Text() const {
  return editor_.text();
}

void TSpinEdit::SetText(const QString& text) {
  // The validator then sees no growth: program text is never refused or cut.
  committedLength_ = text.size();
  editor_.setText(text);
}

int32_t TSpinEdit::Clamp(int64_t value) const noexcept {
  if (hasMax_ && value > max_) {
    value = max_;
  }
  if (value < min_) {
    value = min_;
  }
  return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

void TSpinEdit::Step(int delta) {
  SetValue(Clamp(int64_t{Value()} + delta));
}

bool TSpinEdit::eventFilter(QObject* watched, QEvent* event) {
  if (watched != &editor_) {
    return QFrame::eventFilter(watched, event);
  }
  switch (event->type()) {
    case QEvent::KeyPress:
      return KeyPress(static_cast<QKeyEvent*>(event));
    case QEvent::InputMethod: {
      auto* input = static_cast<QInputMethodEvent*>(event);
      if (!input->commitString().isEmpty() && !TypeableText(input->commitString())) {
        QApplication::beep();
        input->setCommitString(QString());
      }
      return false;
    }
    case QEvent::FocusOut: {
      // Only when the focus goes to another control: not for the editor's own context menu,
      // nor when another window (an error box, say) becomes active.
      const auto reason = static_cast<QFocusEvent*>(event)->reason();
      int32_t value = 0;
      if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason &&
          TryStrToInt(Text().toStdString(), value) && Clamp(value) != value) {
        SetValue(value);
      }
      return false;
    }
    default:
      return false;
  }
}

// True when the key is consumed here.
bool TSpinEdit::KeyPress(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Up:
      Step(1);
      return true;
    case Qt::Key_Down:
      Step(-1);
      return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      QApplication::beep();
      return true;
    default:
      break;
  }
  // Shortcuts (Ctrl+C, Ctrl+V, Ctrl+A...) and keys that type nothing printable (Backspace,
  // Delete, Tab, the cursor keys) go to the editor.
  const QString text = event->text();
  if ((event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) ||
      text.isEmpty() || !text.front().isPrint()) {
    return false;
  }
  if (TypeableText(text)) {
    return false;
  }
  QApplication::beep();
  return true;
}

void TSpinEdit::resizeEvent(QResizeEvent* event) {
  QFrame::resizeEvent(event);
  const QRect inside = contentsRect();
  const int buttonLeft = inside.right() + 1 - kButtonWidth;
  const int half = inside.height() / 2;
  editor_.setGeometry(inside.left(), inside.top(), buttonLeft - inside.left(), inside.height());
  up_.setGeometry(buttonLeft, inside.top(), kButtonWidth, half);
  down_.setGeometry(buttonLeft, inside.top() + half, kButtonWidth, inside.height() - half);
}
