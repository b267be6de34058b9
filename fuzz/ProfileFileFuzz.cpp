// libFuzzer target for the settings file: any file content, any section, key and value. A write
// that succeeds reads back as the value written and keeps every other line's bytes (a file that
// has to change between GBK and UTF-8 keeps every other line's text); a write that fails leaves
// the file as it was; no temporary file is ever left behind.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/files/ProfileFile.h"
#include "platform/files/TextEncoding.h"

using platform::TextEncoding;

namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "property broken: %s\n", what);
    std::abort();
  }
}

std::string Folder() {
  static const std::string folder = [] {
    // Memory, not a disk: every write renames and syncs.
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string path = std::string(base) + "/stillwick-fuzz-" + std::to_string(getpid());
    mkdir(path.c_str(), 0700);
    return path;
  }();
  return folder;
}

void Put(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string Get(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::vector<std::string> Listing() {
  std::vector<std::string> names;
  if (DIR* dir = opendir(Folder().c_str())) {
    while (const dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..")
        names.push_back(name);
    }
    closedir(dir);
  }
  return names;
}

// Code unit at byte `i` of a text in `unit`-byte units.
unsigned UnitAt(const std::string& s, size_t i, size_t unit) {
  const auto low = static_cast<unsigned char>(s[i]);
  return unit == 1 ? low : low | static_cast<unsigned>(static_cast<unsigned char>(s[i + 1])) << 8;
}

// The text's lines, each with its line end (LF, CR LF or a lone CR), after `start` bytes.
std::vector<std::string> Lines(const std::string& s, size_t start, size_t unit) {
  std::vector<std::string> lines;
  size_t begin = start;
  for (size_t i = start; i + unit <= s.size(); i += unit) {
    const unsigned c = UnitAt(s, i, unit);
    if (c != '\n' && c != '\r')
      continue;
    if (c == '\r' && i + 2 * unit <= s.size() && UnitAt(s, i + unit, unit) == '\n')
      i += unit;
    lines.push_back(s.substr(begin, i + unit - begin));
    begin = i + unit;
  }
  if (begin < s.size())
    lines.push_back(s.substr(begin));
  return lines;
}

// The bytes between the longest common head and tail of `before` and `after` hold no line end
// of `before`: only the entry written changed, inside its line, or whole lines were added.
void CheckOtherLinesKept(const std::string& before, const std::string& after, size_t unit) {
  size_t head = 0;
  while (head < before.size() && head < after.size() && before[head] == after[head])
    ++head;
  size_t tail = 0;
  while (tail < before.size() - head && tail < after.size() - head &&
         before[before.size() - 1 - tail] == after[after.size() - 1 - tail]) {
    ++tail;
  }
  const size_t start = unit == 2 ? 2 : 0;
  for (size_t i = start; i + unit <= before.size(); i += unit) {
    if (i + unit > head && i < before.size() - tail) {
      const unsigned c = UnitAt(before, i, unit);
      Check(c != '\n' && c != '\r', "a line end of the file was changed");
    }
  }
}

// The texts of a UTF-8 or GB18030 file, line by line in UTF-8, line ends as they are.
std::string Texts(const std::string& bytes, TextEncoding encoding) {
  const size_t bom = bytes.starts_with("\xEF\xBB\xBF") ? 3 : 0;
  std::string texts = bytes.substr(0, bom);
  for (const std::string& line : Lines(bytes, bom, 1)) {
    // The text of a line is read without its line end.
    const size_t text = line.find_first_of("\r\n");
    texts += platform::DecodeToUtf8(line.substr(0, text), encoding);
    texts += line.substr(std::min(text, line.size()));
  }
  return texts;
}

// Section and key names: those of the program, variants that match them, and odd ones.
const char* const kSections[] = {"START", " start ", "VideoCapture", "S", "名", "", "[x", "a]"};
const char* const kKeys[] = {"edPreText", "EDPRETEXT", " k ", "k", "名", "", "=", ";c", "[k"};

std::string Take(const uint8_t*& data, size_t& size, size_t count) {
  count = std::min(count, size);
  std::string taken(reinterpret_cast<const char*>(data), count);
  data += count;
  size -= count;
  return taken;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3)
    return 0;
  const uint8_t sectionPick = data[0], keyPick = data[1], valueLength = data[2] % 48;
  data += 3;
  size -= 3;
  // A high bit takes the name from the input instead of the list.
  const std::string section = sectionPick & 0x80 ? Take(data, size, sectionPick & 7)
                                                 : kSections[sectionPick % std::size(kSections)];
  const std::string key =
      keyPick & 0x80 ? Take(data, size, keyPick & 7) : kKeys[keyPick % std::size(kKeys)];
  const std::string value = Take(data, size, valueLength);
  const std::string before(reinterpret_cast<const char*>(data), size);

  const std::string path = Folder() + "/settings.ini";
  Put(path, before);
  const platform::ProfileFile file(path);
  const bool written = file.Write(section, key, value);
  const std::string after = Get(path);
  for (const std::string& name : Listing())
    Check(name == "settings.ini" || name == ".settings.ini.lock", "a temporary file was left");
  if (!written) {
    Check(after == before, "a failed write changed the file");
    return 0;
  }
  Check(file.Read(section, key) == value, "the value written does not read back");
  if (after == before)
    return 0;

  const TextEncoding found = platform::DetectEncoding(before);
  const TextEncoding now = platform::DetectEncoding(after);
  if (found == now) {
    CheckOtherLinesKept(before, after, platform::UnitSize(found));
    return 0;
  }
  // Only a file whose bytes left would read in the other of UTF-8 and GB18030 changes encoding:
  // it holds the texts it was read as, line by line, now in that encoding.
  Check(found != TextEncoding::Utf16Le && now != TextEncoding::Utf16Le, "the encoding changed");
  CheckOtherLinesKept(Texts(before, found), Texts(after, now), 1);
  return 0;
}
