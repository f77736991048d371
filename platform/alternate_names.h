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

// The alternate names of all entries of one directory: for each name in `names`
// (any order), its alternate name, or an empty string for a name that lists as
// itself. A name longer than 16 characters gets one, and so does each name that
// differs only in case from one before it in listing order ("Game.prg" after
// "game.prg" lists as GAME~1.PRG). The ordinals count in listing order, so they do
// not depend on the order in which the host reads the directory; an ordinal whose
// name equals a real name of the directory in any case is skipped.
std::vector<std::string> AlternateNamesFor(const std::vector<std::string>& names);

// `name` with its ASCII letters in lower case: names that match without regard to
// case have equal folded names, and folded names sort as the listing does.
std::string FoldedName(std::string_view name);

// The positions of `names` in listing order (NameOrderLess), given their folded
// names.
std::vector<std::size_t> ListingOrder(const std::vector<std::string>& names,
                                      const std::vector<std::string>& folded);

// As AlternateNamesFor, for names already in listing order with their folded names
// beside them: what a large directory's listing uses, without sorting twice.
std::vector<std::string> AlternateNamesInListingOrder(const std::vector<std::string>& names,
                                                      const std::vector<std::string>& folded);

}  // namespace dorvane
