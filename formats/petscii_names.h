// File names between the C64 and the host: PETSCII bytes on the C64's side, UTF-8
// on the host's. This is the one place where a name changes its encoding; every
// name that crosses between the two goes through these functions.
#pragma once

#include <string>
#include <string_view>

namespace dorvane {

// The host name for a C64 name, given as the bytes the server holds after its
// letter-case conversion. Printable ASCII stays as it is, except the three places
// where PETSCII differs from it: 0x5C is "£", 0x5E "↑" and 0x5F "←". Shifted space
// (0xA0) is U+00A0 and the graphics characters 0xA1-0xDF are their Unicode shapes,
// many from "Symbols for Legacy Computing". Every other byte, and "{" itself since
// it opens the escape, is written "{XX}" with two upper-case hex digits. "/" stays
// "/", so a whole path maps component by component.
std::string PetsciiToHostName(std::string_view petscii);

// The C64 bytes for a host name. A name that is not valid UTF-8 (written by an
// older tool) comes back unchanged. Otherwise it is the exact inverse of
// PetsciiToHostName for every name that function made; other characters are read
// as well as they can be: ASCII as it is ("\", "^" and "_" becoming the PETSCII
// bytes that show in their place), letters with accents as their base letters
// ("Ü" as "U", "ß" as "ss"), combining accents dropped, and a character with no
// PETSCII form as "?". "{00}" and "{2F}" stay as written: a name never holds those
// bytes. The result never holds "/" nor a 0x00 byte unless the host name does.
std::string HostNameToPetscii(std::string_view host);

// Whether HostNameToPetscii reads a character of `host` as "?" for want of any
// PETSCII form (a "?" the name itself holds is no such character).
bool HoldsCharacterWithoutPetscii(std::string_view host);

// Whether HostNameToPetscii gives `host` back byte for byte without having to look
// closer: ASCII without "{". (Other names may come back unchanged too.)
bool ReadsAsItself(std::string_view host);

// Whether `text` is well-formed UTF-8: no stray continuation bytes, no cut-off or
// over-long sequences, no surrogates, nothing past U+10FFFF.
bool IsValidUtf8(std::string_view text);

// A C64 name as the server's letter-case conversion leaves it: both PETSCII letter
// ranges (0x41-0x5A and 0xC1-0xDA) become ASCII lower case; every other byte stays.
std::string FoldPetsciiLetters(std::string_view petscii);

}  // namespace dorvane
