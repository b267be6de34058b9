#include "platform/runtime/ErrorBox.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <optional>

#include "platform/runtime/ModalWindow.h"

namespace {

// The boxes. Main thread only: handlers, and the event loop of an open box or dialog.
struct Boxes {
  ErrorPresenter presenter;
  // The text of the box open now (its own event loop may run other handlers meanwhile).
  std::optional<std::string> showing;
  // Boxes that came while a box or another modal window was open, in order; each text once.
  struct Waiting {
    std::string text;
    BoxTiming timing;
  };
  std::deque<Waiting> waiting;
  bool watchingModal = false;  // a drain is due when the modal window open now closes
};

Boxes& TheBoxes() {
  static Boxes boxes;
  return boxes;
}

void Present(const std::string& text) {
  Boxes& b = TheBoxes();
  if (!b.presenter) {
    std::fprintf(stderr, "Stillwick: %s\n", text.c_str());
    return;
  }
  b.showing = text;
  struct Closed {
    ~Closed() { TheBoxes().showing.reset(); }
  } closed;
  b.presenter(text);
}

// Shows the boxes that may be shown now, one after another.
void ShowWaiting() {
  Boxes& b = TheBoxes();
  while (!b.showing) {
    const bool modal = platform::ModalWindowOpen();
    auto next = std::find_if(b.waiting.begin(), b.waiting.end(), [&](const Boxes::Waiting& w) {
      return !modal || w.timing == BoxTiming::Now;
    });
    if (next == b.waiting.end()) {
      if (!b.waiting.empty() && !b.watchingModal) {
        b.watchingModal = true;
        platform::AfterModalWindowCloses([] {
          TheBoxes().watchingModal = false;
          ShowWaiting();
        });
      }
      return;
    }
    const std::string text = std::move(next->text);
    b.waiting.erase(next);
    Present(text);
  }
}

// The last Unicode code point of UTF-8 text (0 when empty).
char32_t LastCodePoint(const std::string& text) {
  if (text.empty())
    return 0;
  size_t start = text.size() - 1;
  while (start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80)
    --start;
  const auto lead = static_cast<unsigned char>(text[start]);
  if (lead < 0x80)
    return lead;
  // Any non-ASCII character sorts after "."; its exact value does not matter here.
  return 0x80;
}

}  // namespace

std::unique_ptr<QMessageBox> MakeErrorMessageBox(QWidget* parent, const std::string& message) {
  auto box = std::make_unique<QMessageBox>(QMessageBox::Critical, QStringLiteral("Stillwick"),
                                           QString(), QMessageBox::Ok, parent);
  box->setTextFormat(Qt::PlainText);
  // Qt's box wraps at blanks from half the screen on, but never inside a word.
  const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
  const int widest = std::max(screen ? screen->availableGeometry().width() / 2 : 400, 200);
  const QFontMetrics metrics(box->font());
  const QString text = QString::fromStdString(message);
  QString shown;
  for (qsizetype begin = 0; begin < text.size();) {
    qsizetype end = begin;
    while (end < text.size() && !text[end].isSpace())
      ++end;
    const QString word = text.mid(begin, end - begin);
    shown += metrics.horizontalAdvance(word) > widest
                 ? metrics.elidedText(word, Qt::ElideMiddle, widest)
                 : word;
    for (begin = end; begin < text.size() && text[begin].isSpace(); ++begin)
      shown += text[begin];
  }
  box->setText(shown);
  return box;
}

void SetErrorPresenter(ErrorPresenter presenter) {
  Boxes& b = TheBoxes();
  b.presenter = std::move(presenter);
  b.waiting.clear();  // they were meant for the presenter that goes
  b.watchingModal = false;
}

std::string ErrorBoxText(const std::string& message) {
  return LastCodePoint(message) > U'.' ? message + "." : message;
}

void ShowErrorBox(const std::string& message, BoxTiming timing) noexcept {
  try {
    const std::string text = ErrorBoxText(message);
    Boxes& b = TheBoxes();
    const bool known =
        b.showing == text || std::any_of(b.waiting.begin(), b.waiting.end(),
                                         [&](const Boxes::Waiting& w) { return w.text == text; });
    if (known)
      return;
    b.waiting.push_back({text, timing});
    ShowWaiting();
  } catch (...) {
    std::fprintf(stderr, "Stillwick: an error could not be shown\n");
  }
}
