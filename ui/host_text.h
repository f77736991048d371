// How the 8-bit texts of the server (log lines, names from the C64 and from the
// host's file system) become text on the screen.
#pragma once

#include <QString>
#include <string>

namespace dorvane {

// Host names on Linux are UTF-8 as a rule, so a text that is valid UTF-8 shows as
// such. Anything else (a PETSCII byte the C64 sent, a name in an old 8-bit
// encoding) shows byte for byte as Latin-1, so no byte is ever lost or merged
// into a replacement mark.
QString DisplayText(const std::string& text);

}  // namespace dorvane
