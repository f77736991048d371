#include "app/headless_panel.h"

#include <chrono>
#include <csignal>
#include <ctime>

namespace dorvane {
namespace {

volatile std::sig_atomic_t stop_signal = 0;

extern "C" void OnStopSignal(int) { stop_signal = 1; }

// "2026-12-08 14:03:27.512 ": the local time to the millisecond, and a space.
std::string LocalTimeStamp(std::chrono::system_clock::time_point when) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(
                          when - std::chrono::system_clock::from_time_t(seconds))
                          .count();
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[40];
  const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  std::snprintf(text + length, sizeof text - length, ".%03d ", static_cast<int>(millis));
  return text;
}

}  // namespace

void InstallStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART needed: every wait polls the port in short attempts and looks at
  // the flag between them.
  action.sa_flags = 0;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  // A closed terminal or a dropped ssh session stops it the same orderly way, so an
  // unfinished save is discarded instead of leaving its temporary file behind.
  sigaction(SIGHUP, &action, nullptr);
  // A reader of the log that went away (dorvaned | head) must not kill it mid-save:
  // the failed write is harmless.
  std::signal(SIGPIPE, SIG_IGN);
}

bool StopSignalSeen() { return stop_signal != 0; }

void HeadlessPanel::LogLine(const std::string& text) {
  if (stamped_) std::fputs(LocalTimeStamp(std::chrono::system_clock::now()).c_str(), out_);
  // Written by size: a name from the C64 may hold any byte, 0x00 included.
  std::fwrite(text.data(), 1, text.size(), out_);
  std::fputc('\n', out_);
  std::fflush(out_);
  PumpEvents();
}

void HeadlessPanel::PumpEvents() {
  if (link_ != nullptr && StopSignalSeen()) link_->StopRequested = true;
}

}  // namespace dorvane
