#pragma once
// The settings file: a profile text of "[section]" headers and "key=value" lines.
//
// Encodings: a new file is UTF-8. A file found in another encoding keeps it at every write: one
// that starts with a UTF-16LE byte-order mark is UTF-16LE; one that is not valid UTF-8, or whose
// UTF-8 reading is implausible where its GBK one is common Chinese (DetectEncoding), is GB18030
// (files carried over from Chinese Windows, in the GBK code page). Names and values are UTF-8
// here whatever the file holds.
//
// Reading follows the classic profile rules, so a file edited by hand reads as users expect:
// - A line whose first non-blank character is "[" heads a section; its name ends at the first
//   "]". A line whose first non-blank character is ";" is a comment ("#" is not special, and
//   nothing ends a line early). In a section, a line with "=" is a key; one without is ignored.
// - Section and key names match ignoring ASCII case and the blanks around them. The first
//   matching section wins, and in it the first matching key.
// - A value is everything after the first "=": the blanks around it are dropped, then one
//   matching pair of outer quotes ("..." or '...'). "key=" holds the empty value, which is a
//   value, not an absent key. Blanks are space, tab, CR, VT, FF and Ctrl-Z.
// - Lines end at LF, CR LF or a lone CR.
//
// Writing changes only what it must: a new file is "[section]" CRLF "key=value" CRLF; a new
// section goes at the end of the file, a new key after the last entry of its section; an
// existing key keeps its line, its name as spelt and the blanks after "=", and only its value
// changes. Every other byte stays, comments and line endings included. Added lines take the
// file's own line ending (that of its first line; CRLF in a file without one). Writing the value
// already stored touches nothing, not even the file's time.
//
// Values round-trip exactly: a value that starts or ends with a blank, or that is itself wrapped
// in a matching pair of quotes, is written inside double quotes, which reading removes again.
// Every other value is written as it is.
//
// Each call opens the file, does its one thing and closes it. A link at the name is followed only
// where the kernel would follow it (ResolveLinks: never another user's link in a shared sticky
// folder). A write holds an advisory lock (the hidden file ".<name>.lock" beside the file, which
// only those who may write the file may open) around reading, changing and replacing it, so
// running copies of the program never lose each other's keys. It replaces the file through
// AtomicReplace: whole or not at all, a link stays a link (its target is replaced), mode, owner
// and group are kept. A write fails (returns false, file untouched, no temporary left) when the
// file or its folder cannot be written, when the owner could not be kept, when the name is a
// folder, or when the text would not read back as the same entry: a line break anywhere, text
// that is not UTF-8, a key holding "=" or beginning with "[" or ";", a section name holding
// "]".

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class ProfileFile {
 public:
  // Longest value a read returns, in characters: the classic 2048-character buffer less its end.
  static constexpr size_t kMaxValueChars = 2047;

  explicit ProfileFile(std::string path) : path_(std::move(path)) {}
  const std::string& Path() const noexcept { return path_; }

  // The key's value, cut to `maxChars` characters; nullopt when the file, the section or the
  // key is absent (or the file cannot be read).
  std::optional<std::string> Read(std::string_view section, std::string_view key,
                                  size_t maxChars = kMaxValueChars) const;
  // The section's key names (without their blanks) in file order; empty when absent.
  std::vector<std::string> Keys(std::string_view section) const;
  // Stores the value under the key, creating file, section or key as needed. A lock held
  // elsewhere is waited for, as FileLock waits (at most seconds).
  bool Write(std::string_view section, std::string_view key, std::string_view value) const;
  // As Write, but never waits for the lock: Busy, with nothing written, while another holds it.
  enum class Stored { Yes, No, Busy };
  Stored TryWrite(std::string_view section, std::string_view key, std::string_view value) const;

 private:
  Stored Store(std::string_view section, std::string_view key, std::string_view value,
               int lockWaitMs) const;

  std::string path_;
};

}  // namespace platform
