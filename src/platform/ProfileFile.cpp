#include "platform/ProfileFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <filesystem>

namespace platform {
namespace {

class UniqueFd {
 public:
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { Close(); }
  int get() const noexcept { return fd_; }
  bool valid() const noexcept { return fd_ >= 0; }
  // Closes now and reports the result, which for a written file is the last word on the write.
  bool Close() noexcept {
    if (fd_ < 0)
      return true;
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0;
  }

 private:
  int fd_;
};

bool ReadAll(int fd, std::string& text) {
  char chunk[65536];
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n == 0)
      return true;
    if (n < 0) {
      if (errno == EINTR)
        continue;
      return false;
    }
    text.append(chunk, static_cast<size_t>(n));
  }
}

bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR)
        continue;
      return false;
    }
    text.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// The file's text, or nullopt when it is absent, unreadable or not a regular file.
std::optional<std::string> ReadText(const std::string& path) {
  // O_NONBLOCK: a FIFO at the name must not hang the program; it is rejected below.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  struct stat st {};
  std::string text;
  if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
      !ReadAll(fd.get(), text)) {
    return std::nullopt;
  }
  return text;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
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

enum class Kind { Other, Section, Key };

struct Line {
  size_t begin = 0;  // first byte of the line
  size_t end = 0;    // end of its text, before CR LF or LF
  size_t next = 0;   // first byte of the following line
  Kind kind = Kind::Other;
  bool entry = false;     // neither blank nor a comment
  std::string_view name;  // of a section or key, without blanks
  size_t valueBegin = 0;  // key: the byte after "="
};

std::vector<Line> Parse(std::string_view text) {
  std::vector<Line> lines;
  // A byte-order mark left by an editor is not part of the first line's text.
  size_t pos = text.starts_with("\xEF\xBB\xBF") ? 3 : 0;
  while (pos < text.size()) {
    Line line;
    line.begin = pos;
    const size_t lf = text.find('\n', pos);
    if (lf == std::string_view::npos) {
      line.end = line.next = text.size();
    } else {
      line.end = lf > pos && text[lf - 1] == '\r' ? lf - 1 : lf;
      line.next = lf + 1;
    }
    const std::string_view raw = text.substr(line.begin, line.end - line.begin);
    const std::string_view trimmed = Trim(raw);
    line.entry = !trimmed.empty() && trimmed.front() != ';';
    if (line.entry && trimmed.front() == '[') {
      line.kind = Kind::Section;
      line.name = Trim(trimmed.substr(1, trimmed.find(']', 1) - 1));
    } else if (const size_t eq = raw.find('='); line.entry && eq != std::string_view::npos) {
      line.kind = Kind::Key;
      line.name = Trim(raw.substr(0, eq));
      line.valueBegin = line.begin + eq + 1;
    }
    lines.push_back(line);
    pos = line.next;
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

// Names and values that would not read back as the entry written are refused.
bool Storable(std::string_view section, std::string_view key, std::string_view value) {
  const auto breaks = [](std::string_view s) { return s.find_first_of("\r\n") != s.npos; };
  if (breaks(section) || breaks(key) || breaks(value))
    return false;
  if (section.find(']') != section.npos || key.find('=') != key.npos)
    return false;
  const std::string_view k = Trim(key);
  return k.empty() || (k.front() != '[' && k.front() != ';');
}

// The text with the value stored, or nullopt when it is stored already.
std::optional<std::string> Updated(std::string_view text, std::string_view section,
                                   std::string_view key, std::string_view value) {
  const size_t firstLf = text.find('\n');
  const std::string_view eol =
      firstLf == text.npos || (firstLf > 0 && text[firstLf - 1] == '\r') ? "\r\n" : "\n";
  const std::string entry = std::string(key) + "=" + EncodeValue(value);

  const std::vector<Line> lines = Parse(text);
  const size_t header = FindSection(lines, section);
  if (header == kNone) {
    std::string out(text);
    if (!out.empty() && out.back() != '\n')
      out += eol;
    out.append("[").append(section).append("]").append(eol).append(entry).append(eol);
    return out;
  }

  if (const size_t k = FindKey(lines, header, key); k != kNone) {
    const Line& line = lines[k];
    if (DecodeValue(text.substr(line.valueBegin, line.end - line.valueBegin)) == value) {
      return std::nullopt;
    }
    size_t keep = line.valueBegin;
    while (keep < line.end && (text[keep] == ' ' || text[keep] == '\t'))
      ++keep;
    std::string out(text.substr(0, keep));
    out.append(EncodeValue(value)).append(text.substr(line.end));
    return out;
  }

  // After the section's last entry: blank lines and comments before the next header stay
  // with that header.
  size_t after = header;
  for (size_t i = header + 1, end = SectionEnd(lines, header); i < end; ++i) {
    if (lines[i].entry)
      after = i;
  }
  const Line& line = lines[after];
  std::string out(text.substr(0, line.next));
  // The file's last line may have had no line break.
  if (line.next == line.end)
    out += eol;
  out.append(entry).append(eol).append(text.substr(line.next));
  return out;
}

// Writes `text` to a new file beside `path` and renames it over `path`. `old` describes the file
// replaced (its mode and owner carry over), or is null for a new file.
bool ReplaceFile(const std::string& path, std::string_view text, const struct stat* old) {
  const std::filesystem::path target(path);
  const std::string base = target.filename().string();
  if (base.empty())
    return false;
  std::string folder = target.parent_path().string();
  if (folder.empty())
    folder = ".";

  std::string tempName;
  int raw = -1;
  for (int attempt = 0; attempt < 16 && raw < 0; ++attempt) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "%08x", QRandomGenerator::global()->generate());
    tempName = folder + "/." + base + "." + suffix;
    // 0666 under the umask: a new settings file gets the user's usual file mode.
    raw = ::open(tempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (raw < 0 && errno != EEXIST)
      return false;
  }
  if (raw < 0)
    return false;
  UniqueFd fd(raw);

  bool ok = true;
  if (old != nullptr) {
    ok = ::fchmod(fd.get(), old->st_mode & 07777) == 0;
    if (ok && ::fchown(fd.get(), old->st_uid, old->st_gid) != 0) {
      // Only root may give a file away; otherwise the replacement is ours, as the old one was.
    }
  }
  // fsync before the rename: after a crash the name holds the old text or the whole new one.
  ok = ok && WriteAll(fd.get(), text) && ::fsync(fd.get()) == 0;
  ok = fd.Close() && ok;
  ok = ok && ::rename(tempName.c_str(), path.c_str()) == 0;
  if (!ok)
    ::unlink(tempName.c_str());
  return ok;
}

}  // namespace

std::optional<std::string> ProfileFile::Read(std::string_view section, std::string_view key,
                                             size_t maxChars) const {
  const std::optional<std::string> text = ReadText(path_);
  if (!text)
    return std::nullopt;
  const std::vector<Line> lines = Parse(*text);
  const size_t header = FindSection(lines, section);
  if (header == kNone)
    return std::nullopt;
  const size_t k = FindKey(lines, header, key);
  if (k == kNone)
    return std::nullopt;
  const Line& line = lines[k];
  const std::string_view raw =
      std::string_view(*text).substr(line.valueBegin, line.end - line.valueBegin);
  return std::string(CutChars(DecodeValue(raw), maxChars));
}

std::vector<std::string> ProfileFile::Keys(std::string_view section) const {
  std::vector<std::string> keys;
  const std::optional<std::string> text = ReadText(path_);
  if (!text)
    return keys;
  const std::vector<Line> lines = Parse(*text);
  const size_t header = FindSection(lines, section);
  if (header == kNone)
    return keys;
  for (size_t i = header + 1, end = SectionEnd(lines, header); i < end; ++i) {
    if (lines[i].kind == Kind::Key)
      keys.emplace_back(lines[i].name);
  }
  return keys;
}

bool ProfileFile::Write(std::string_view section, std::string_view key,
                        std::string_view value) const {
  if (!Storable(section, key, value))
    return false;

  // Opened for writing, as the replacement will be: a read-only file, a folder or any other
  // non-file at the name refuses the write here, before anything is created.
  UniqueFd fd(::open(path_.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  struct stat st {};
  std::string text;
  const bool exists = fd.valid();
  if (!exists && errno != ENOENT)
    return false;
  if (exists && (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || !ReadAll(fd.get(), text))) {
    return false;
  }
  fd.Close();

  const std::optional<std::string> updated = Updated(text, section, key, value);
  if (!updated)
    return true;
  return ReplaceFile(path_, *updated, exists ? &st : nullptr);
}

}  // namespace platform
