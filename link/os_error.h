// The error raised when the operating system refuses something: configuring the
// opened port, which ends serving and whose text the front end shows the operator;
// or reading or writing a transfer file, or a listing whose directory search cannot
// start, which the server catches and which end only that request.
#pragma once

#include <stdexcept>
#include <string>

namespace dorvane {

class OsError : public std::runtime_error {
 public:
  // "OS Error.  Code: %d.\n%s" with the code and the system's text for it, or
  // "An OS function failed" when the code is 0.
  explicit OsError(int code);
  int Code() const { return code_; }

 private:
  int code_;
};

// A fault of the port itself while it serves (the device, the connection). Its
// text is an OsError's; unlike a fault of the host's files, which ends only the
// request it hit, it ends serving.
class LineError : public OsError {
 public:
  using OsError::OsError;
};

// The text of an OsError for `code`, also used where the error is only logged.
std::string OsErrorText(int code);

}  // namespace dorvane
