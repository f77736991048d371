// A system error in the words a user reads after a program's name and the thing it
// concerns: "dorvaned: --root /srv/c64: no such directory".
#pragma once

#include <cctype>
#include <cerrno>
#include <cstring>
#include <string>

namespace dorvane {

// The system's text for `code`, lower-cased where it begins a sentence, since here
// it follows a colon: "permission denied".
inline std::string PlainCause(int code) {
  if (code == 0) return "an operating system call failed";
  std::string text = std::strerror(code);
  if (text.size() > 1 && std::isupper(static_cast<unsigned char>(text[0])) &&
      !std::isupper(static_cast<unsigned char>(text[1]))) {
    text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
  }
  return text;
}

// What is wrong with a directory the user named, for the error of opening it.
inline std::string DirectoryCause(int code) {
  if (code == ENOENT) return "no such directory";
  if (code == ENOTDIR) return "not a directory";
  return PlainCause(code);
}

}  // namespace dorvane
