#include "platform/files/TextEncoding.h"

#include <QString>
#include <QStringDecoder>
#include <QStringEncoder>

namespace platform {
namespace {

constexpr QStringConverter::Flags kFlags =
    QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom;

QString ToQString(std::string_view bytes, TextEncoding encoding) {
  switch (encoding) {
    case TextEncoding::Utf8: {
      // Not QString::fromUtf8, which drops a leading U+FEFF: a value may begin with one.
      QStringDecoder decoder(QStringConverter::Utf8, kFlags);
      return decoder.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    }
    case TextEncoding::Utf16Le: {
      std::u16string units(bytes.size() / 2, u'\0');
      for (size_t i = 0; i < units.size(); ++i) {
        units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                         static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
      }
      QString text = QString::fromUtf16(units.data(), static_cast<qsizetype>(units.size()));
      if (bytes.size() % 2 != 0)
        text += QChar::ReplacementCharacter;  // half a unit
      return text;
    }
    case TextEncoding::Gb18030: {
      // The converter silently keeps a lead byte at the end of its input for a next call that
      // never comes. An LF, which no GB18030 character contains, ends it as U+FFFD instead.
      QStringDecoder decoder("GB18030", kFlags);
      QString text =
          decoder.decode(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())) + '\n');
      text.chop(1);
      return text;
    }
  }
  return {};
}

}  // namespace

bool IsValidUtf8(std::string_view bytes) {
  size_t i = 0;
  while (i < bytes.size()) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    if (lead < 0x80) {
      ++i;
      continue;
    }
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // range of the second byte (RFC 3629)
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      low = lead == 0xE0 ? 0xA0 : 0x80;
      high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      low = lead == 0xF0 ? 0x90 : 0x80;
      high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
      return false;
    }
    if (bytes.size() - i < length)
      return false;
    for (size_t k = 1; k < length; ++k) {
      const auto c = static_cast<unsigned char>(bytes[i + k]);
      if (c < (k == 1 ? low : 0x80) || c > (k == 1 ? high : 0xBF))
        return false;
    }
    i += length;
  }
  return true;
}

namespace {

// The code point of the valid UTF-8 sequence at `i`, which it passes.
char32_t NextCodePoint(std::string_view bytes, size_t& i) {
  const auto lead = static_cast<unsigned char>(bytes[i++]);
  if (lead < 0x80)
    return lead;
  const int trail = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : 1;
  char32_t c = lead & (0x3F >> trail);
  for (int k = 0; k < trail; ++k)
    c = c << 6 | (static_cast<unsigned char>(bytes[i++]) & 0x3F);
  return c;
}

// What a character of the UTF-8 reading is, for judging its words. The letters listed are those
// of the languages a settings file here may hold; everything else below U+0800 is Rare: where
// code page 936 bytes pass for UTF-8, they read as such characters.
enum class Kind {
  Ascii,
  AsciiLetter,
  Latin,
  Greek,
  Cyrillic,
  Armenian,
  Hebrew,
  Arabic,
  Sign,
  Rare
};

Kind KindOf(char32_t c) {
  if (c < 0x80)
    return (c | 0x20) >= 'a' && (c | 0x20) <= 'z' ? Kind::AsciiLetter : Kind::Ascii;
  if (c >= 0x800)  // Chinese, punctuation, symbols; private use is no one's text
    return c >= 0xE000 && c <= 0xF8FF ? Kind::Rare : Kind::Sign;
  if (c < 0xA0)
    return Kind::Rare;  // C1 controls
  if (c < 0xC0 || c == 0xD7 || c == 0xF7)
    return Kind::Sign;  // ° ± µ ² × ...
  if (c < 0x180 || (c >= 0x1CD && c <= 0x1DC) || (c >= 0x218 && c <= 0x21B))
    return Kind::Latin;  // Latin-1, Extended-A, pinyin tones, Romanian
  if (c >= 0x386 && c <= 0x3CE && c != 0x387 && c != 0x38B && c != 0x38D && c != 0x3A2)
    return Kind::Greek;
  if ((c >= 0x400 && c <= 0x45F) || c == 0x490 || c == 0x491)
    return Kind::Cyrillic;
  if ((c >= 0x531 && c <= 0x556) || (c >= 0x561 && c <= 0x587))
    return Kind::Armenian;
  if (c >= 0x5D0 && c <= 0x5EA)
    return Kind::Hebrew;
  if ((c >= 0x620 && c <= 0x64A) || (c >= 0x660 && c <= 0x669) || (c >= 0x671 && c <= 0x6D3))
    return Kind::Arabic;
  return Kind::Rare;
}

bool IsLetter(Kind kind) {
  return kind != Kind::Ascii && kind != Kind::AsciiLetter && kind != Kind::Sign;
}

// Whether the valid UTF-8 `bytes` read as text someone wrote: each run of non-ASCII characters
// holds no Rare one and letters of one script only, and accented Latin letters that come two or
// more in a row stand inside a word with plain letters ("Größe"), not alone.
bool PlausibleUtf8(std::string_view bytes) {
  Kind before = Kind::Ascii;  // the ASCII character before the run
  Kind script = Kind::Ascii;  // of the run's letters
  int letters = 0;
  size_t i = 0;
  for (;;) {
    const Kind kind = i < bytes.size() ? KindOf(NextCodePoint(bytes, i)) : Kind::Ascii;
    if (kind == Kind::Ascii || kind == Kind::AsciiLetter) {
      if (script == Kind::Latin && letters > 1 && before != Kind::AsciiLetter &&
          kind != Kind::AsciiLetter) {
        return false;
      }
      if (i >= bytes.size())
        return true;
      before = kind;
      script = Kind::Ascii;
      letters = 0;
      continue;
    }
    if (kind == Kind::Rare)
      return false;
    if (IsLetter(kind)) {
      if (script != Kind::Ascii && script != kind)
        return false;
      script = kind;
      ++letters;
    }
  }
}

// Whether every character that is not ASCII is a two-byte code of GB2312, the common part of
// code page 936 (its symbols in rows A1 to A9, its Chinese characters in rows B0 to F7): the
// text a settings file from Chinese Windows holds.
bool PlausibleGb2312(std::string_view bytes) {
  for (size_t i = 0; i < bytes.size(); ++i) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    if (lead < 0x80)
      continue;
    if (i + 1 == bytes.size())
      return false;
    const auto trail = static_cast<unsigned char>(bytes[++i]);
    const bool row = (lead >= 0xA1 && lead <= 0xA9) || (lead >= 0xB0 && lead <= 0xF7);
    if (!row || trail < 0xA1 || trail > 0xFE)
      return false;
  }
  return true;
}

}  // namespace

TextEncoding DetectEncoding(std::string_view bytes) {
  if (bytes.starts_with("\xFF\xFE"))
    return TextEncoding::Utf16Le;
  if (bytes.starts_with("\xEF\xBB\xBF"))
    return TextEncoding::Utf8;
  if (!IsValidUtf8(bytes))
    return TextEncoding::Gb18030;
  return PlausibleUtf8(bytes) || !PlausibleGb2312(bytes) ? TextEncoding::Utf8
                                                         : TextEncoding::Gb18030;
}

size_t UnitSize(TextEncoding encoding) {
  return encoding == TextEncoding::Utf16Le ? 2 : 1;
}

std::string DecodeToUtf8(std::string_view bytes, TextEncoding encoding) {
  if (encoding == TextEncoding::Utf8 && IsValidUtf8(bytes))
    return std::string(bytes);
  return ToQString(bytes, encoding).toStdString();
}

std::string EncodeFromUtf8(std::string_view utf8, TextEncoding encoding) {
  if (encoding == TextEncoding::Utf8)
    return std::string(utf8);
  const QString text = ToQString(utf8, TextEncoding::Utf8);
  switch (encoding) {
    case TextEncoding::Utf8:
      break;
    case TextEncoding::Utf16Le: {
      std::string bytes(static_cast<size_t>(text.size()) * 2, '\0');
      for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i].unicode();
        bytes[2 * static_cast<size_t>(i)] = static_cast<char>(unit & 0xFF);
        bytes[2 * static_cast<size_t>(i) + 1] = static_cast<char>(unit >> 8);
      }
      return bytes;
    }
    case TextEncoding::Gb18030: {
      QStringEncoder encoder("GB18030", kFlags);
      const QByteArray bytes = encoder.encode(text);
      return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
    }
  }
  return {};
}

}  // namespace platform
