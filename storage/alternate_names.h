// Short 8.3 names for long host names. The C64's listing has room for 16
// characters of a name, so a longer name is shown, and can be typed back, as a
// short alternate such as "A_VERY~1.TXT".
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace dorvane {

// Names longer than this get an alternate name.
inline constexpr std::size_t AlternateNameThreshold = 16;

bool NeedsAlternateName(std::string_view name);

// The first six characters of the mapped stem that a name's alternate starts with
// (upper case, characters outside A-Z 0-9 and "_-~!#$%&'()@^`{}" turned to "_").
std::string AlternateNamePrefix(std::string_view name);

// The alternate name for a long name that is the `ordinal`-th (from 1) among the
// long names of its directory sharing its prefix.
std::string FormatAlternateName(std::string_view name, unsigned ordinal);

// `name` with its ASCII letters in lower case: names that match without regard to
// case have equal folded names, and folded names sort as the listing does.
std::string FoldedName(std::string_view name);

}  // namespace dorvane
