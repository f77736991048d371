#include "app/headless_panel.h"

#include <csignal>

namespace dorvane {
namespace {

volatile std::sig_atomic_t stop_signal = 0;

extern "C" void OnStopSignal(int) { stop_signal = 1; }

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
