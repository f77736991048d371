#include "service/outcome_lines.h"

namespace dorvane {
namespace {

std::string Counted(std::uint64_t count, const char* one, const char* many) {
  return GroupedCount(count) + " " + (count == 1 ? one : many);
}

}  // namespace

std::string TransferLine(const std::string& verb, std::uint64_t bytes, std::uint32_t elapsed_ms) {
  // Tenths of a second, rounded to the nearest.
  const std::uint64_t tenths = (static_cast<std::uint64_t>(elapsed_ms) + 50) / 100;
  std::string line = verb + " " + Counted(bytes, "byte", "bytes") + " in " +
                     GroupedCount(tenths / 10) + "." + std::to_string(tenths % 10) + " s";
  if (elapsed_ms > 0) {
    const std::uint64_t rate = (bytes * 1000 + elapsed_ms / 2) / elapsed_ms;
    line += " (" + GroupedCount(rate) + " bytes/s)";
  }
  return line;
}

std::string EndedLine(const std::string& how, std::uint64_t done,
                      std::optional<std::uint64_t> total) {
  if (total)
    return how + " after " + GroupedCount(done) + " of " + Counted(*total, "byte", "bytes");
  return how + " after " + Counted(done, "byte", "bytes");
}

std::string ListingLine(int entries) {
  return "Sent directory: " + Counted(static_cast<std::uint64_t>(entries), "entry", "entries");
}

}  // namespace dorvane
