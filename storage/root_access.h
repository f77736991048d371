// Whether the server may change what it serves: a served directory it cannot write
// in still serves loads and listings, but every save would fail, so the operator
// hears of it before the C64 tries.
#pragma once

#include <string>

namespace dorvane {

// The reason (an errno value) this process may not create entries in `dir`, or 0
// when it may.
int WriteRefusal(const std::string& dir);

// The warning for a served directory `dir` that refuses writes with `error`; empty
// when `error` is 0.
std::string UnwritableRootLine(const std::string& dir, int error);

}  // namespace dorvane
