// File names on a Commodore disk: 16 stored bytes padded with 0xA0, matched the way
// the C64's drives match them.
#pragma once

#include <string>
#include <string_view>

#include "formats/cbm_disk.h"

namespace dorvane {

// The stored bytes up to the first 0xA0: what the listing shows.
std::string ShownCbmName(const CbmName& name);

// The shown name as the server converts a name the C64 sends: both PETSCII letter
// ranges (0x41..0x5A and 0xC1..0xDA) become ASCII lower case, so the C64's name
// and a stored one compare alike.
std::string HostCbmName(const CbmName& name);
std::string PetsciiToHost(std::string text);

// The drive's rules: "?" matches any one character, "*" the rest of the name, every
// other byte itself without regard to ASCII case. An empty pattern matches nothing.
bool MatchesCbmPattern(std::string_view pattern, std::string_view name);

// The stored form of a name the C64 gave for a save or a rename: ASCII lower case
// back to PETSCII upper case, padded with 0xA0. False when the name is empty, longer
// than 16 bytes, holds a wildcard, or holds 0x00 or 0xA0 (which would end it).
bool ToCbmName(std::string_view name, CbmName& stored);

}  // namespace dorvane
