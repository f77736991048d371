// What the service and the link need of the front end: the window in the desktop
// program, standard output and the stop signals in the headless server, a recorder
// in the tests. Every call happens on the one thread that serves.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "link/serial_port.h"

namespace dorvane {

class OperatorPanel {
 public:
  virtual ~OperatorPanel() = default;

  // Appends one line to the log, then runs PumpEvents. The text is 8-bit and is
  // shown as given: no time stamp, no prefix.
  virtual void LogLine(const std::string& text) = 0;
  // Runs every pending event (clicks, repaints, close requests, stop signals) and
  // returns without waiting for more. May set the link's StopRequested.
  virtual void PumpEvents() = 0;
  // Sleeps while the link waits without a time limit (see Link::IdleWaitMs): until
  // input may be waiting on `port`, an event of the front end comes (and has run),
  // or `longest` has passed. Only a hint, as SerialPort::AwaitInput: the link's
  // next attempt decides. By default the port sleeps by itself, which only a signal
  // cuts short; a window waits in its own event loop instead, with the port's
  // InputDescriptor among what wakes it.
  virtual void AwaitInput(SerialPort& port, std::chrono::milliseconds longest) {
    port.AwaitInput(longest);
  }
  // Sets the window caption and the application's task-bar title to one text.
  virtual void SetStatusCaption(const std::string& text) = 0;

  virtual void SetProgressPosition(int percent) = 0;  // 0 to 100
  virtual void SetProgressEnabled(bool enabled) = 0;
  // Beside the progress position: the file a load or save moves and `done` bytes of
  // `total` so far (`total` 0 when not known, as in a save). A front end that shows
  // no more than the bar keeps the default, which does nothing.
  virtual void SetTransferProgress(const std::string& name, std::uint64_t done,
                                   std::uint64_t total) {
    (void)name, (void)done, (void)total;
  }
  // The line's device went away (`device` names it) or, with an empty text, came
  // back. The log has its own line for each; by default nothing more shows it.
  virtual void SetPortLost(const std::string& device) { (void)device; }
  virtual void SetStartEnabled(bool enabled) = 0;
  virtual void SetPortChoiceEnabled(bool enabled) = 0;
  // The selected port, 0 to 3 ("Com1" to "Com4").
  virtual int PortChoice() const = 0;
  // Whether "Protect deleting" is checked; read afresh at each delete request.
  virtual bool DeleteProtection() const = 0;
  // Closes the main window, which ends the program once the Start handler returns.
  virtual void CloseMainWindow() = 0;
};

}  // namespace dorvane
