// Names from the C64 match host names without regard to case. Only ASCII letters
// fold: bytes from 0x80 up are PETSCII graphics or host encodings we cannot know,
// so they compare as they are.
#pragma once

#include <cstddef>
#include <string_view>

namespace dorvane {

inline unsigned char FoldAscii(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

inline unsigned char UpperAscii(unsigned char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

// <0, 0 or >0 as a sorts before, with or after b, ignoring ASCII case.
inline int CompareFolded(std::string_view a, std::string_view b) {
  const std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char x = FoldAscii(static_cast<unsigned char>(a[i]));
    const unsigned char y = FoldAscii(static_cast<unsigned char>(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

inline bool EqualsFolded(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CompareFolded(a, b) == 0;
}

// The order in which a directory is listed: by name without regard to case, so the
// order never depends on the order in which the host happens to return them. Of
// names that differ only in case, a lower-case letter goes before its capital: the
// C64 sends every letter in lower case, so the one spelling it can type exactly
// ("game.prg" beside "Game.prg") comes first and keeps its name in the listing.
inline bool NameOrderLess(std::string_view a, std::string_view b) {
  const int folded = CompareFolded(a, b);
  if (folded != 0) return folded < 0;
  // Equal when folded: the first byte that differs is one letter in two cases.
  return a > b;
}

}  // namespace dorvane
