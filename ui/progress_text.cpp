#include "ui/progress_text.h"

#include <algorithm>
#include <cstdio>

#include "link/grouped_count.h"

namespace dorvane {

namespace {

// A speed measured over less time than this says more about the first block's
// moment than about the line.
constexpr std::uint32_t ShortestMeasureMs = 500;

std::string Speed(double bytes_per_second) {
  char text[32];
  if (bytes_per_second < 1000.0) {
    std::snprintf(text, sizeof text, "%.0f B/s", bytes_per_second);
  } else {
    std::snprintf(text, sizeof text, "%.1f kB/s", bytes_per_second / 1000.0);
  }
  return text;
}

std::string TimeLeft(std::uint64_t seconds) {
  if (seconds < 60) return std::to_string(seconds) + " s left";
  char text[32];
  std::snprintf(text, sizeof text, "%llu:%02llu left",
                static_cast<unsigned long long>(seconds / 60),
                static_cast<unsigned long long>(seconds % 60));
  return text;
}

}  // namespace

std::string TransferText(const std::string& name, std::uint64_t done, std::uint64_t total,
                         std::uint32_t elapsed_ms) {
  std::string text = name;
  if (total > 0) {
    // Whole percent, rounded down: 100% only once every byte has gone.
    const std::uint64_t percent = std::min<std::uint64_t>(done * 100 / total, 100);
    text += "  " + std::to_string(percent) + "%";
  } else {
    text += "  " + GroupedCount(done) + (done == 1 ? " byte" : " bytes");
  }
  if (elapsed_ms < ShortestMeasureMs || done == 0) return text;
  const double speed = static_cast<double>(done) * 1000.0 / elapsed_ms;
  text += "  " + Speed(speed);
  if (total > done) {
    const double left = static_cast<double>(total - done) / speed;
    text += "  " + TimeLeft(static_cast<std::uint64_t>(left + 0.999));
  }
  return text;
}

}  // namespace dorvane
