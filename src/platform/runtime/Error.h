#pragma once
// The one error type of the system. Its message is the text the user reads in the standard
// error box; handlers let it propagate and the guard around every handler shows it.

#include <stdexcept>
#include <string>

class EStillwickError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// printf-style formatting of the system's message templates ("Unable to write to %s").
std::string FormatMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));

[[noreturn]] void RaiseError(const std::string& message);
