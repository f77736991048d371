#include "formats/petscii_names.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace dorvane {
namespace {

// The Unicode characters of shifted space and the graphics characters 0xA0-0xDF of
// the upper-case/graphics set, one per byte and never the same twice, so that every
// one reads back as its own byte. The keyboard types the graphics as 0xA1-0xBF and
// 0xC0-0xDF (0x61-0x7A are letters to the server, and 0xE0-0xFF repeat 0xA0-0xBF),
// so those are the bytes that get the characters.
constexpr std::size_t GlyphBase = 0xA0;
constexpr std::array<char32_t, 64> Glyphs = {
    0x00A0,  0x258C,  0x2584,  0x2594,  0x2581,  0x258F,  0x1FB95, 0x2595,   // A0-A7
    0x1FB8F, 0x25E4,  0x1FB87, 0x251C,  0x2597,  0x2514,  0x2510,  0x2582,   // A8-AF
    0x250C,  0x2534,  0x252C,  0x2524,  0x258E,  0x258D,  0x1FB88, 0x1FB82,  // B0-B7
    0x1FB83, 0x2583,  0x1FB7F, 0x2596,  0x259D,  0x2518,  0x2598,  0x259A,   // B8-BF
    0x2500,  0x2660,  0x1FB72, 0x1FB78, 0x1FB77, 0x1FB76, 0x1FB7A, 0x1FB71,  // C0-C7
    0x1FB74, 0x256E,  0x2570,  0x256F,  0x1FB7C, 0x2572,  0x2571,  0x1FB7D,  // C8-CF
    0x1FB7E, 0x25CF,  0x1FB7B, 0x2665,  0x1FB70, 0x256D,  0x2573,  0x25CB,   // D0-D7
    0x2663,  0x1FB75, 0x2666,  0x253C,  0x1FB8C, 0x2502,  0x03C0,  0x25E5,   // D8-DF
};

// The PETSCII characters in the ASCII range that ASCII has something else for.
struct AsciiPlace {
  std::uint8_t Byte;
  char32_t Character;
};
constexpr std::array<AsciiPlace, 3> PetsciiInAscii = {{
    {0x5C, 0x00A3},  // pound sign, where ASCII has "\"
    {0x5E, 0x2191},  // up arrow, where ASCII has "^"
    {0x5F, 0x2190},  // left arrow, where ASCII has "_"
}};

// Base letters of U+0100-U+017F (Latin Extended-A), upper and lower case in
// turn; the four ligatures there ('*') are spelled out by LigatureOf.
constexpr std::string_view LatinExtendedA =
    "AaAaAaCcCcCcCcDdDdEeEeEeEeEeGgGgGgGgHhHhIiIiIiIiIi**JjKkkLlLlLlLlLlNnNnNnnNnOoOoOo**RrRrRr"
    "SsSsSsSsTtTtTtUuUuUuUuUuUuWwYyYZzZzZzs";
static_assert(LatinExtendedA.size() == 0x80);

// Base letters of U+00C0-U+00FF (Latin-1); '*' marks a letter LigatureOf spells
// out, '?' the two signs that are no letters.
constexpr std::string_view Latin1Letters =
    "AAAAAA*CEEEEIIIIDNOOOOO?OUUUUY**aaaaaa*ceeeeiiiidnooooo?ouuuuy*y";
static_assert(Latin1Letters.size() == 0x40);

std::string_view LigatureOf(char32_t c) {
  switch (c) {
    case 0x00C6:
      return "AE";
    case 0x00DE:
      return "TH";
    case 0x00DF:
      return "ss";
    case 0x00E6:
      return "ae";
    case 0x00FE:
      return "th";
    case 0x0132:
      return "IJ";
    case 0x0133:
      return "ij";
    case 0x0152:
      return "OE";
    case 0x0153:
      return "oe";
    default:
      return "?";
  }
}

// Punctuation that host names often hold in its typographic form.
char PlainPunctuation(char32_t c) {
  switch (c) {
    case 0x2018:
    case 0x2019:
      return '\'';
    case 0x201C:
    case 0x201D:
      return '"';
    case 0x2010:
    case 0x2011:
    case 0x2012:
    case 0x2013:
    case 0x2014:
      return '-';
    default:
      return '\0';
  }
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Decodes the character at `pos` and moves past it; false, leaving `pos`, when the
// bytes there are no well-formed UTF-8.
bool NextCharacter(std::string_view text, std::size_t& pos, char32_t& c) {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
  const std::uint8_t lead = byte(pos);
  std::size_t length = 0;
  char32_t lowest = 0;
  if (lead < 0x80) {
    c = lead;
    ++pos;
    return true;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, lowest = 0x80, c = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, lowest = 0x800, c = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, lowest = 0x10000, c = lead & 0x07;
  } else {
    return false;
  }
  if (text.size() - pos < length) return false;
  for (std::size_t i = 1; i < length; ++i) {
    const std::uint8_t next = byte(pos + i);
    if ((next & 0xC0) != 0x80) return false;
    c = (c << 6) | (next & 0x3F);
  }
  if (c < lowest || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
  pos += length;
  return true;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The byte of an escape "{XX}" at `pos`, or -1 when none stands there.
int EscapedByte(std::string_view text, std::size_t pos) {
  if (text.size() - pos < 4 || text[pos] != '{' || text[pos + 3] != '}') return -1;
  const int high = HexValue(text[pos + 1]);
  const int low = HexValue(text[pos + 2]);
  if (high < 0 || low < 0) return -1;
  const int value = high * 16 + low;
  return value == 0x00 || value == '/' ? -1 : value;
}

// The PETSCII byte PetsciiToHostName writes as `c`, or -1.
int ByteOfCharacter(char32_t c) {
  for (const AsciiPlace& place : PetsciiInAscii) {
    if (place.Character == c) return place.Byte;
  }
  for (std::size_t i = 0; i < Glyphs.size(); ++i) {
    if (Glyphs[i] == c) return static_cast<int>(GlyphBase + i);
  }
  return -1;
}

// What the C64 can show of a character that is no PETSCII character; false when it
// can show nothing like it and "?" stands in its place.
bool AppendTransliteration(std::string& out, char32_t c) {
  if (c >= 0x0300 && c <= 0x036F) return true;  // a combining accent: the letter stays
  char letter = '?';
  if (c >= 0x00C0 && c <= 0x00FF) {
    letter = Latin1Letters[c - 0x00C0];
  } else if (c >= 0x0100 && c <= 0x017F) {
    letter = LatinExtendedA[c - 0x0100];
  } else if (const char plain = PlainPunctuation(c); plain != '\0') {
    letter = plain;
  }
  const std::string_view shown = letter == '*' ? LigatureOf(c) : std::string_view(&letter, 1);
  out += shown;
  return shown != "?";
}

// HostNameToPetscii for a name that needs a closer look: UTF-8 that is not plain
// ASCII, or holds "{". `unshown` tells whether a character became "?".
std::string ReadUtf8Name(std::string_view host, bool& unshown) {
  unshown = false;
  std::string petscii;
  petscii.reserve(host.size());
  std::size_t pos = 0;
  while (pos < host.size()) {
    if (const int escaped = EscapedByte(host, pos); escaped >= 0) {
      petscii += static_cast<char>(escaped);
      pos += 4;
      continue;
    }
    char32_t c = 0;
    NextCharacter(host, pos, c);  // cannot fail: the whole name was checked
    if (c < 0x80) {
      petscii += static_cast<char>(c);
    } else if (const int b = ByteOfCharacter(c); b >= 0) {
      petscii += static_cast<char>(b);
    } else if (!AppendTransliteration(petscii, c)) {
      unshown = true;
    }
  }
  return petscii;
}

}  // namespace

std::string PetsciiToHostName(std::string_view petscii) {
  static constexpr char Hex[] = "0123456789ABCDEF";
  std::string host;
  host.reserve(petscii.size());
  for (char raw : petscii) {
    const auto b = static_cast<std::uint8_t>(raw);
    const int glyph = static_cast<int>(b) - static_cast<int>(GlyphBase);
    if (b >= 0x20 && b < 0x7F && b != '{' && b != 0x5C && b != 0x5E && b != 0x5F) {
      host += static_cast<char>(b);
    } else if (b == 0x5C || b == 0x5E || b == 0x5F) {
      for (const AsciiPlace& place : PetsciiInAscii) {
        if (place.Byte == b) AppendUtf8(host, place.Character);
      }
    } else if (glyph >= 0 && static_cast<std::size_t>(glyph) < Glyphs.size()) {
      AppendUtf8(host, Glyphs[static_cast<std::size_t>(glyph)]);
    } else {
      host += '{';
      host += Hex[b >> 4];
      host += Hex[b & 0x0F];
      host += '}';
    }
  }
  return host;
}

std::string HostNameToPetscii(std::string_view host) {
  // Most host names are ASCII without an escape: they read as they are.
  if (ReadsAsItself(host) || !IsValidUtf8(host)) return std::string(host);
  bool unshown = false;
  return ReadUtf8Name(host, unshown);
}

bool HoldsCharacterWithoutPetscii(std::string_view host) {
  if (ReadsAsItself(host) || !IsValidUtf8(host)) return false;
  bool unshown = false;
  ReadUtf8Name(host, unshown);
  return unshown;
}

bool ReadsAsItself(std::string_view host) {
  return std::all_of(host.begin(), host.end(),
                     [](char c) { return static_cast<std::uint8_t>(c) < 0x80 && c != '{'; });
}

bool IsValidUtf8(std::string_view text) {
  std::size_t pos = 0;
  char32_t c = 0;
  while (pos < text.size()) {
    if (!NextCharacter(text, pos, c)) return false;
  }
  return true;
}

std::string FoldPetsciiLetters(std::string_view petscii) {
  std::string folded(petscii);
  for (char& raw : folded) {
    auto b = static_cast<std::uint8_t>(raw);
    if (b >= 0xC1 && b <= 0xDA) {
      b = static_cast<std::uint8_t>((b & 0x7F) + 0x20);
    } else if (b >= 0x41 && b <= 0x5A) {
      b = static_cast<std::uint8_t>(b + 0x20);
    }
    raw = static_cast<char>(b);
  }
  return folded;
}

}  // namespace dorvane
