#pragma once
// Files as bytes: what a test sets up, and what the program wrote.

#include <sys/types.h>

#include <string>

namespace harness {

// The file's bytes; empty when it cannot be read.
std::string ReadFile(const std::string& path);
// Makes or replaces the file with `bytes` and gives it `mode`; false when it cannot.
bool WriteFile(const std::string& path, const std::string& bytes, mode_t mode = 0644);

}  // namespace harness
