// The front end of the headless server: the log goes to standard output, one line
// each, and SIGINT or SIGTERM plays the operator's Quit. There is no window, so the
// caption, the progress bar and the buttons show nothing.
#pragma once

#include <cstdio>
#include <string>

#include "link/link.h"
#include "link/operator_panel.h"

namespace dorvane {

// Makes SIGINT, SIGTERM and SIGHUP raise the stop flag that HeadlessPanel::PumpEvents reads.
// Call once, before serving starts.
void InstallStopSignals();

// Whether a stop signal has come since the program started.
bool StopSignalSeen();

class HeadlessPanel : public OperatorPanel {
 public:
  HeadlessPanel(std::FILE* out, bool protect_deleting) : out_(out), protect_(protect_deleting) {}

  // The link whose StopRequested a stop signal sets; set before serving starts.
  void AttachLink(Link& link) { link_ = &link; }

  // Puts the local time before each line from now on (a terminal or a file has
  // none; the journal has its own and needs no second one).
  void StampLines() { stamped_ = true; }

  // Written and flushed at once, so a reader of a pipe sees each line as it happens.
  void LogLine(const std::string& text) override;
  void PumpEvents() override;
  void SetStatusCaption(const std::string&) override {}
  void SetProgressPosition(int) override {}
  void SetProgressEnabled(bool) override {}
  void SetStartEnabled(bool) override {}
  void SetPortChoiceEnabled(bool) override {}
  // The one port there is: the front end's port provider names it whatever the choice.
  int PortChoice() const override { return 0; }
  bool DeleteProtection() const override { return protect_; }
  void CloseMainWindow() override { closed_ = true; }

  // True once serving has ended the ordinary way (a stop), as the window closes.
  bool Closed() const { return closed_; }

 private:
  std::FILE* out_;
  bool protect_;
  bool closed_ = false;
  bool stamped_ = false;
  Link* link_ = nullptr;
};

}  // namespace dorvane
