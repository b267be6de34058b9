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

TextEncoding DetectEncoding(std::string_view bytes) {
  if (bytes.starts_with("\xFF\xFE"))
    return TextEncoding::Utf16Le;
  return IsValidUtf8(bytes) ? TextEncoding::Utf8 : TextEncoding::Gb18030;
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
