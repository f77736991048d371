// The line that closes each request in the log: how it ended, in words and
// figures the operator can take in at a glance.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "link/grouped_count.h"

namespace dorvane {

// "Sent 12,345 bytes in 1.1 s (11,200 bytes/s)" with `verb` "Sent" or "Saved". A
// transfer that took no measurable time has no rate.
std::string TransferLine(const std::string& verb, std::uint64_t bytes, std::uint32_t elapsed_ms);

// How a transfer that ended early is told, before " after ...".
inline constexpr const char* ByTheC64 = "Aborted by the C64";
inline constexpr const char* ByTheLine = "Cut off";

// "Aborted by the C64 after 4,080 of 12,345 bytes" for `how` ByTheC64, or "after
// 4,080 bytes" when the whole is not known (a save).
std::string EndedLine(const std::string& how, std::uint64_t done,
                      std::optional<std::uint64_t> total);

// "Sent directory: 214 entries".
std::string ListingLine(int entries);

}  // namespace dorvane
