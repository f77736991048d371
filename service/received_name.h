#pragma once

#include <string>

#include "link/wire_format.h"

namespace dorvane {

// The name or command text a request packet carries, as host text of exactly
// `Length` characters: both PETSCII letter ranges (0x41..0x5A and 0xC1..0xDA) become
// ASCII lower case; every other byte passes unchanged. The payload CRC byte stored
// after the name is not part of it, and no terminator is looked for.
std::string ConvertReceivedName(const Packet& packet);

// Whether a name holds a 0x00 byte. The host's file calls would cut such a name at
// it and so act on another entry than the C64 meant: it never reaches the volume.
bool HoldsNul(const std::string& name);

// A name that begins with a drive letter and a colon ("d:intro") names an entry of
// the served root, as a change of drive does: "/intro". Other names pass unchanged.
std::string WithoutDriveLetter(const std::string& name);

// Whether any component of a path is a hidden name (begins with "." and is neither
// "." nor ".."). Hidden entries are the host's own settings: the C64 may see them
// listed but never creates, replaces, deletes, renames or enters one.
bool NamesHiddenEntry(const std::string& path);

// The log line of a request refused for naming a hidden entry.
std::string HiddenRefusal(const std::string& name);

// A log line or other short text: at most 255 bytes, and when it is UTF-8, cut
// between characters so that it stays UTF-8.
std::string ShortText(std::string text);

}  // namespace dorvane
