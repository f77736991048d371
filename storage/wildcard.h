// Matching of C64 search patterns against host names.
#pragma once

#include <string_view>

namespace dorvane {

// True when `name` matches `pattern`: "*" stands for any run of characters, "?" for
// exactly one, every other byte for itself without regard to ASCII case. As on the
// C64 user's usual PC, a pattern ending in ".*" also matches a name without a dot,
// so "*.*" matches every name. An empty pattern matches nothing.
bool MatchesWildcard(std::string_view pattern, std::string_view name);

// True when `name` holds "*" or "?", which no saved or created name may hold.
bool HasWildcard(std::string_view name);

}  // namespace dorvane
