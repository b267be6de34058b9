#pragma once
// The encodings settings files are found in. Files written here are UTF-8; files carried over
// from Chinese Windows hold their texts in the GBK code page, read as GB18030 (its superset);
// some editors save UTF-16LE with a byte-order mark. Conversions go through Qt's converters
// (ICU), never tables of our own.

#include <string>
#include <string_view>

namespace platform {

enum class TextEncoding { Utf8, Gb18030, Utf16Le };

// UTF-16LE when the text starts with its byte-order mark; else UTF-8 when the whole text is
// valid UTF-8; else GB18030.
TextEncoding DetectEncoding(std::string_view bytes);
bool IsValidUtf8(std::string_view bytes);
// Bytes of one code unit: 2 for UTF-16LE, else 1.
size_t UnitSize(TextEncoding encoding);

// Between the encoding and UTF-8. Bytes that do not decode become U+FFFD; a byte-order mark is
// text like any other character (callers skip the file's own).
std::string DecodeToUtf8(std::string_view bytes, TextEncoding encoding);
std::string EncodeFromUtf8(std::string_view utf8, TextEncoding encoding);

}  // namespace platform
