#pragma once
// The encodings settings files are found in. Files written here are UTF-8; files carried over
// from Chinese Windows hold their texts in the GBK code page, read as GB18030 (its superset);
// some editors save UTF-16LE with a byte-order mark. Conversions go through Qt's converters
// (ICU), never tables of our own.

#include <string>
#include <string_view>

namespace platform {

enum class TextEncoding { Utf8, Gb18030, Utf16Le };

// UTF-16LE or UTF-8 when the text starts with that byte-order mark; GB18030 when it is not
// valid UTF-8. Valid UTF-8 may still be code page 936: about one in seven common Chinese
// characters there is also a 2-byte UTF-8 sequence ("图片", CD BC C6 AC, is UTF-8 "ͼƬ"). Such a
// text is GB18030 when that reading is common Chinese (GB2312) and the UTF-8 one is not text
// anyone writes: characters of no language in use, scripts mixed within a word, or accented
// letters in a row outside any word. UTF-8 Chinese (3-byte sequences) and European, Cyrillic,
// Greek, Hebrew or Arabic words stay UTF-8; when both readings pass, UTF-8 wins.
TextEncoding DetectEncoding(std::string_view bytes);
bool IsValidUtf8(std::string_view bytes);
// Bytes of one code unit: 2 for UTF-16LE, else 1.
size_t UnitSize(TextEncoding encoding);

// Between the encoding and UTF-8. Bytes that do not decode become U+FFFD; a byte-order mark is
// text like any other character (callers skip the file's own).
std::string DecodeToUtf8(std::string_view bytes, TextEncoding encoding);
std::string EncodeFromUtf8(std::string_view utf8, TextEncoding encoding);

}  // namespace platform
