#include "storage/wildcard.h"

#include <cstddef>

#include "formats/ascii_case.h"

namespace dorvane {
namespace {

// Greedy matching with one backtrack point: the last "*" seen absorbs one more
// character whenever the rest fails. Linear in practice and never recursive, so a
// hostile pattern of many stars cannot blow the stack.
bool MatchPlain(std::string_view pattern, std::string_view name) {
  std::size_t p = 0;
  std::size_t n = 0;
  std::size_t star = std::string_view::npos;
  std::size_t star_n = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      star_n = n;
    } else if (p < pattern.size() &&
               (pattern[p] == '?' || FoldAscii(static_cast<unsigned char>(pattern[p])) ==
                                         FoldAscii(static_cast<unsigned char>(name[n])))) {
      ++p;
      ++n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++star_n;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace

bool MatchesWildcard(std::string_view pattern, std::string_view name) {
  if (pattern.empty()) return false;
  if (MatchPlain(pattern, name)) return true;
  if (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == ".*" &&
      name.find('.') == std::string_view::npos) {
    const std::string_view stem = pattern.substr(0, pattern.size() - 2);
    return !stem.empty() && MatchPlain(stem, name);
  }
  return false;
}

bool HasWildcard(std::string_view name) {
  return name.find_first_of("*?") != std::string_view::npos;
}

}  // namespace dorvane
