// The link reports to an operator panel; the peer has no window, only a question it
// asks between byte attempts: should it stop? (The tool answers from SIGINT.)
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "link/link.h"
#include "link/operator_panel.h"
#include "link/port_provider.h"

namespace dorvane::peer {

class PeerPanel : public OperatorPanel {
 public:
  // Asked at every byte attempt; true stops the link.
  std::function<bool()> StopRequested;
  Link* AttachedLink = nullptr;
  // While set the stop is not looked at: the peer's last word (stAbort after a stop)
  // must still reach the server.
  bool Mute = false;

  void LogLine(const std::string&) override { PumpEvents(); }
  void PumpEvents() override {
    if (!Mute && AttachedLink && StopRequested && StopRequested())
      AttachedLink->StopRequested = true;
  }
  void SetStatusCaption(const std::string&) override {}
  void SetProgressPosition(int) override {}
  void SetProgressEnabled(bool) override {}
  void SetStartEnabled(bool) override {}
  void SetPortChoiceEnabled(bool) override {}
  int PortChoice() const override { return -1; }
  bool DeleteProtection() const override { return true; }
  void CloseMainWindow() override {}
};

// The peer hands its port to the link directly; it never asks for one by choice.
class NoPortProvider : public PortProvider {
 public:
  std::string PortNameFor(int) override { return std::string(); }
  std::unique_ptr<SerialPort> Open(const std::string&) override { return nullptr; }
};

}  // namespace dorvane::peer
