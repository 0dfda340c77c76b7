#pragma once
// The system's general exception: its text is "Operation: problem".
#include <stdexcept>
#include <string>

namespace kd {

class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  std::string Message() const { return what(); }
};

// A text that is not a number or a date-time value.
class ConvertError : public Exception {
 public:
  using Exception::Exception;
};

// An INI file that cannot be written.
class IniFileError : public Exception {
 public:
  using Exception::Exception;
};

// A registry value that is missing or of another type, or a damaged store.
class RegistryError : public Exception {
 public:
  using Exception::Exception;
};

}  // namespace kd
