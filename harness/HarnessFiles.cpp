#include "HarnessFiles.h"

#include <sys/stat.h>

#include <fstream>
#include <iterator>

namespace harness {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool WriteFile(const std::string& path, const std::string& bytes, mode_t mode) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  out.close();
  return out && ::chmod(path.c_str(), mode) == 0;
}

}  // namespace harness
