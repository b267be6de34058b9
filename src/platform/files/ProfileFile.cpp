#include "platform/files/ProfileFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files/AtomicReplace.h"
#include "platform/files/FileLock.h"
#include "platform/files/TextEncoding.h"

namespace platform {
namespace {

// The file's bytes: 0, or the errno of the failure (EISDIR for anything but a regular file).
int ReadBytes(const std::string& path, std::string& bytes) {
  bytes.clear();
  // O_NONBLOCK: a FIFO at the name must not hang the program; it is rejected below.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0)
    return errno;
  int error = 0;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
    error = EISDIR;
  std::string chunk(65536, '\0');
  while (error == 0) {
    const ssize_t n = ::read(fd, chunk.data(), chunk.size());
    if (n == 0)
      break;
    if (n < 0 && errno != EINTR)
      error = errno;
    if (n > 0)
      bytes.append(chunk.data(), static_cast<size_t>(n));
  }
  ::close(fd);
  return error;
}

// The settings file's bytes, through the links the kernel would follow (see ResolveLinks).
int ReadSettings(const std::string& path, std::string& bytes) {
  std::string target;
  const int error = ResolveLinks(path, target);
  return error != 0 ? error : ReadBytes(target, bytes);
}

// The lock is for exactly those who may write the settings file: anyone who may open it could
// hold it for ever.
mode_t LockMode(const std::string& target) {
  struct stat st {};
  if (::stat(target.c_str(), &st) != 0)
    return 0600;
  return 0600 | ((st.st_mode & S_IWGRP) != 0 ? 0060 : 0) | ((st.st_mode & S_IWOTH) != 0 ? 0006 : 0);
}

// Ctrl-Z ends files written by old DOS and Windows tools; it counts as a blank.
bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f' || c == '\x1A';
}
bool IsQuote(char c) {
  return c == '"' || c == '\'';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front()))
    s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back()))
    s.remove_suffix(1);
  return s;
}

char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
  a = Trim(a);
  b = Trim(b);
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i]))
      return false;
  }
  return true;
}

bool HasOuterQuotes(std::string_view s) {
  return s.size() >= 2 && IsQuote(s.front()) && s.front() == s.back();
}

std::string_view DecodeValue(std::string_view raw) {
  raw = Trim(raw);
  if (HasOuterQuotes(raw))
    raw = raw.substr(1, raw.size() - 2);
  return raw;
}

// Quotes exactly the values that reading would otherwise change.
std::string EncodeValue(std::string_view value) {
  const bool quote =
      !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()) || HasOuterQuotes(value));
  return quote ? "\"" + std::string(value) + "\"" : std::string(value);
}

// The first `maxChars` UTF-8 characters; a character is never split.
std::string_view CutChars(std::string_view s, size_t maxChars) {
  size_t chars = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    const bool lead = (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80;
    if (lead && chars++ == maxChars)
      return s.substr(0, i);
  }
  return s;
}

// The file's bytes in their encoding, walked in code units: a line's structure ("=", line ends)
// is found in the bytes themselves, so that every byte outside the entry written stays as it
// was, also bytes that do not decode. Names and values are decoded to UTF-8 line by line.
struct Text {
  explicit Text(std::string_view b)
      : bytes(b), encoding(DetectEncoding(b)), unit(UnitSize(encoding)) {
    if (encoding == TextEncoding::Utf16Le)
      start = 2;
    else if (bytes.starts_with("\xEF\xBB\xBF"))
      start = 3;  // a byte-order mark left by an editor is not part of the first line
  }
  // The code unit at byte `pos`, which has a whole unit.
  unsigned At(size_t pos) const {
    const auto low = static_cast<unsigned char>(bytes[pos]);
    return unit == 1 ? low
                     : low | static_cast<unsigned>(static_cast<unsigned char>(bytes[pos + 1])) << 8;
  }
  bool WholeUnits() const { return (bytes.size() - start) % unit == 0; }
  std::string Decode(size_t begin, size_t end) const {
    return DecodeToUtf8(bytes.substr(begin, end - begin), encoding);
  }
  std::string Encode(std::string_view utf8) const { return EncodeFromUtf8(utf8, encoding); }

  std::string_view bytes;
  TextEncoding encoding;
  size_t unit;
  size_t start = 0;
};

enum class Kind { Other, Section, Key };

struct Line {
  size_t begin = 0;  // first byte of the line
  size_t end = 0;    // end of its text, before its line end
  size_t next = 0;   // first byte of the following line
  Kind kind = Kind::Other;
  bool entry = false;     // neither blank nor a comment
  std::string name;       // of a section or key, without blanks
  size_t valueBegin = 0;  // key: the byte after "="
  std::string value;      // key: the text after "=", as stored
};

// Lines end at LF, CR LF or a lone CR.
std::vector<Line> Parse(const Text& text) {
  std::vector<Line> lines;
  const size_t size = text.bytes.size();
  const size_t u = text.unit;
  size_t pos = text.start;
  while (pos < size) {
    Line line;
    line.begin = pos;
    line.end = line.next = size;
    for (size_t i = pos; i + u <= size; i += u) {
      const unsigned c = text.At(i);
      if (c == '\n' || c == '\r') {
        line.end = i;
        line.next = c == '\r' && i + 2 * u <= size && text.At(i + u) == '\n' ? i + 2 * u : i + u;
        break;
      }
    }
    const std::string decoded = text.Decode(line.begin, line.end);
    const std::string_view trimmed = Trim(decoded);
    line.entry = !trimmed.empty() && trimmed.front() != ';';
    size_t eq = line.end;
    for (size_t i = line.begin; i + u <= line.end; i += u) {
      if (text.At(i) == '=') {
        eq = i;
        break;
      }
    }
    if (line.entry && trimmed.front() == '[') {
      line.kind = Kind::Section;
      line.name = Trim(trimmed.substr(1, trimmed.find(']', 1) - 1));
    } else if (line.entry && eq != line.end) {
      line.kind = Kind::Key;
      line.name = Trim(text.Decode(line.begin, eq));
      line.valueBegin = eq + u;
      line.value = text.Decode(line.valueBegin, line.end);
    }
    lines.push_back(std::move(line));
    pos = lines.back().next;
  }
  return lines;
}

constexpr size_t kNone = static_cast<size_t>(-1);

size_t FindSection(const std::vector<Line>& lines, std::string_view section) {
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].kind == Kind::Section && SameName(lines[i].name, section))
      return i;
  }
  return kNone;
}

// The lines of the section headed at `header`, up to the next header.
size_t SectionEnd(const std::vector<Line>& lines, size_t header) {
  size_t i = header + 1;
  while (i < lines.size() && lines[i].kind != Kind::Section)
    ++i;
  return i;
}

size_t FindKey(const std::vector<Line>& lines, size_t header, std::string_view key) {
  for (size_t i = header + 1, end = SectionEnd(lines, header); i < end; ++i) {
    if (lines[i].kind == Kind::Key && SameName(lines[i].name, key))
      return i;
  }
  return kNone;
}

// The line of the key, or nullptr.
const Line* FindEntry(const std::vector<Line>& lines, std::string_view section,
                      std::string_view key) {
  const size_t header = FindSection(lines, section);
  const size_t k = header == kNone ? kNone : FindKey(lines, header, key);
  return k == kNone ? nullptr : &lines[k];
}

// Names and values that would not read back as the entry written are refused.
bool Storable(std::string_view section, std::string_view key, std::string_view value) {
  for (const std::string_view s : {section, key, value}) {
    // Invalid UTF-8 would also change how the whole file is read.
    if (s.find_first_of("\r\n") != s.npos || !IsValidUtf8(s))
      return false;
  }
  if (section.find(']') != section.npos || key.find('=') != key.npos)
    return false;
  const std::string_view k = Trim(key);
  return k.empty() || (k.front() != '[' && k.front() != ';');
}

// The whole file in UTF-8, line ends and all, read as it is read now.
std::string Transcoded(const Text& text, const std::vector<Line>& lines) {
  std::string out(text.bytes.substr(0, text.start));
  for (const Line& line : lines) {
    out += text.Decode(line.begin, line.end);
    out += text.Decode(line.end, line.next);
  }
  return out;
}

enum class Change { None, Made, Refused };

// Stores the value in the text, into `out`.
Change Update(const Text& text, std::string_view section, std::string_view key,
              std::string_view value, std::string& out) {
  // Appending after half a UTF-16 unit would shift every later unit.
  if (!text.WholeUnits())
    return Change::Refused;
  const std::vector<Line> lines = Parse(text);
  // Added lines take the file's own line end, that of its first line.
  const std::string eol =
      !lines.empty() && lines[0].next > lines[0].end
          ? std::string(text.bytes.substr(lines[0].end, lines[0].next - lines[0].end))
          : text.Encode("\r\n");
  const std::string entry = text.Encode(std::string(key) + "=" + EncodeValue(value));
  // The last line may have had no line end.
  const auto unended = [&](const Line& line) { return line.next == line.end; };

  const size_t header = FindSection(lines, section);
  if (header == kNone) {
    out = text.bytes;
    if (!lines.empty() && unended(lines.back()))
      out += eol;
    out.append(text.Encode("[" + std::string(section) + "]")).append(eol).append(entry).append(eol);
  } else if (const size_t k = FindKey(lines, header, key); k != kNone) {
    const Line& line = lines[k];
    if (DecodeValue(line.value) == value)
      return Change::None;
    size_t keep = line.valueBegin;
    while (keep + text.unit <= line.end && (text.At(keep) == ' ' || text.At(keep) == '\t'))
      keep += text.unit;
    out = text.bytes.substr(0, keep);
    out.append(text.Encode(EncodeValue(value))).append(text.bytes.substr(line.end));
  } else {
    // After the section's last entry: blank lines and comments before the next header stay
    // with that header.
    size_t after = header;
    for (size_t i = header + 1, end = SectionEnd(lines, header); i < end; ++i) {
      if (lines[i].entry)
        after = i;
    }
    const Line& line = lines[after];
    out = text.bytes.substr(0, line.next);
    if (unended(line))
      out += eol;
    out.append(entry).append(eol).append(text.bytes.substr(line.next));
  }

  // The file keeps its encoding, and every byte outside the entry. Rarely the bytes left would
  // read in the other encoding next time (a GB18030 file whose only text that is not plausible
  // UTF-8 was the value replaced, or the reverse), and its other texts differently: then the
  // whole file goes over to that encoding holding the same texts, or the write is refused.
  const TextEncoding readAs = DetectEncoding(out);
  if (readAs != text.encoding) {
    Text written(out);
    written.encoding = text.encoding;  // as it was read, not as it would be
    const std::string texts = Transcoded(written, Parse(written));
    std::string converted = EncodeFromUtf8(texts, readAs);
    if (DetectEncoding(converted) != readAs || DecodeToUtf8(converted, readAs) != texts)
      return Change::Refused;
    out = std::move(converted);
  }
  return Change::Made;
}

}  // namespace

std::optional<std::string> ProfileFile::Read(std::string_view section, std::string_view key,
                                             size_t maxChars) const {
  std::string bytes;
  if (ReadSettings(path_, bytes) != 0)
    return std::nullopt;
  const Text text(bytes);
  const std::vector<Line> lines = Parse(text);
  const Line* line = FindEntry(lines, section, key);
  if (!line)
    return std::nullopt;
  return std::string(CutChars(DecodeValue(line->value), maxChars));
}

std::vector<std::string> ProfileFile::Keys(std::string_view section) const {
  std::vector<std::string> keys;
  std::string bytes;
  if (ReadSettings(path_, bytes) != 0)
    return keys;
  const Text text(bytes);
  const std::vector<Line> lines = Parse(text);
  const size_t header = FindSection(lines, section);
  if (header == kNone)
    return keys;
  for (size_t i = header + 1, end = SectionEnd(lines, header); i < end; ++i) {
    if (lines[i].kind == Kind::Key)
      keys.push_back(lines[i].name);
  }
  return keys;
}

bool ProfileFile::Write(std::string_view section, std::string_view key,
                        std::string_view value) const {
  return Store(section, key, value, 5000) == Stored::Yes;
}

ProfileFile::Stored ProfileFile::TryWrite(std::string_view section, std::string_view key,
                                          std::string_view value) const {
  return Store(section, key, value, 0);
}

ProfileFile::Stored ProfileFile::Store(std::string_view section, std::string_view key,
                                       std::string_view value, int lockWaitMs) const {
  if (!Storable(section, key, value))
    return Stored::No;
  // A link stays a link: the file it points to is the one read, locked and replaced.
  std::string target;
  if (ResolveLinks(path_, target) != 0)
    return Stored::No;

  // Writing the value already stored touches nothing, and needs no lock.
  std::string bytes, updated;
  int error = ReadBytes(target, bytes);
  if (error != 0 && error != ENOENT)
    return Stored::No;
  if (error == 0 && Update(Text(bytes), section, key, value, updated) == Change::None)
    return Stored::Yes;

  // Read, change and rename under the lock, so a second copy of the program writing another
  // key at the same moment neither loses its own nor ours.
  FileLock lock;
  const std::string lockPath =
      FolderOf(target) + "/." + target.substr(target.rfind('/') + 1) + ".lock";
  error = lock.Acquire(lockPath, LockMode(target), lockWaitMs);
  if (error != 0)
    return error == EWOULDBLOCK ? Stored::Busy : Stored::No;
  error = ReadBytes(target, bytes);
  if (error != 0 && error != ENOENT)
    return Stored::No;
  switch (Update(Text(bytes), section, key, value, updated)) {
    case Change::None:
      return Stored::Yes;
    case Change::Refused:
      return Stored::No;
    case Change::Made:
      break;
  }
  // Synced: a settings file is small, and must survive a crash of the system whole.
  AtomicReplace file;
  return file.Begin(target, {AtomicReplace::Owner::MustKeep, true}) == 0 &&
                 file.Write(updated) == 0 && file.Commit() == 0
             ? Stored::Yes
             : Stored::No;
}

}  // namespace platform
