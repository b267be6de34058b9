#include "platform/HandlerGuard.h"

#include <cstdio>

namespace {
ErrorPresenter& Presenter() {
  static ErrorPresenter presenter;
  return presenter;
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

void SetErrorPresenter(ErrorPresenter presenter) {
  Presenter() = std::move(presenter);
}

std::string ErrorBoxText(const std::string& message) {
  return LastCodePoint(message) > U'.' ? message + "." : message;
}

void ShowErrorBox(const std::string& message) noexcept {
  try {
    const std::string text = ErrorBoxText(message);
    if (Presenter()) {
      Presenter()(text);
    } else {
      std::fprintf(stderr, "Stillwick: %s\n", text.c_str());
    }
  } catch (...) {
    std::fprintf(stderr, "Stillwick: an error could not be shown\n");
  }
}
