// Scripted stand-ins for the port, the clock, the port provider and the front end,
// so that every path of the link and the server runs without a device or a display.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/link.h"
#include "link/operator_panel.h"
#include "link/port_provider.h"
#include "link/serial_port.h"
#include "link/tick_clock.h"
#include "storage/volume.h"

namespace dorvane::testing {

class FakeClock : public TickClock {
 public:
  explicit FakeClock(std::uint32_t start = 0) : now(start) {}
  std::uint32_t GetTickCount() override { return now; }
  void Advance(std::uint32_t ms) { now += ms; }
  std::uint32_t now;
};

// How a port cuts the byte stream into runs. Each list is gone through in turn and
// then again from its start: `reads` caps how many of the bytes that have arrived
// one read hands over, `writes` how many bytes of what is offered one write takes.
// A read run also ends where the script has a silence or a line event.
struct Split {
  std::string name;  // for the test's name: letters, digits and '_'
  std::vector<std::size_t> reads;
  std::vector<std::size_t> writes;
};

inline constexpr std::size_t Whole = static_cast<std::size_t>(-1);

// The splits every protocol test runs under: one byte a call, as a port without
// runs moves them; a few; a whole packet and part of the next (and all of a write);
// and ragged runs that cut packets anywhere.
std::vector<Split> ProtocolSplits();

// The split a ScriptedPort starts with; one byte each way until changed. A test
// parameterised over ProtocolSplits sets it for its ports (see SplitTest).
const Split& SplitForNewPorts();
void SetSplitForNewPorts(const Split& split);

// Each empty attempt costs AttemptMs of fake time, as a real port's attempt does.
class ScriptedPort : public SerialPort {
 public:
  static constexpr std::uint32_t AttemptMs = 2;

  explicit ScriptedPort(FakeClock& clock) : clock_(clock), split_(SplitForNewPorts()) {}

  // Bytes the C64 sends, available at once (after any silence scripted before them).
  void Feed(const std::vector<std::uint8_t>& bytes);
  // Silence of `ms` before the next fed byte becomes available; at the end of the
  // script, silence before the script counts as drained.
  void Silence(std::uint32_t ms);
  // A line event that the port reports once every byte fed before it has been read.
  void Event(LineEvent event);
  // A line event the port noticed by itself (a failed write, a hang-up) and reports
  // at once, whatever the link has buffered.
  void ReportNow(LineEvent event) { reported_.push_back(std::move(event)); }

  bool ReadAttempt(std::uint8_t& byte) override;
  bool WriteAttempt(std::uint8_t byte) override;
  // Runs as the split cuts them; every call counts as one attempt.
  std::size_t ReadSome(std::uint8_t* buffer, std::size_t count) override;
  std::size_t WriteSome(const std::uint8_t* data, std::size_t count) override;
  void UseSplit(const Split& split) { split_ = split; }
  void AwaitInput(std::chrono::milliseconds longest) override {
    awaited_ms.push_back(longest.count());
  }
  bool TakeLineEvent(LineEvent& event) override;
  std::string DamagedPacketsHint() const override { return damage_hint; }

  // Bytes still waiting on the line.
  std::size_t Pending() const;

  std::vector<std::uint8_t> written;
  int read_attempts = 0;
  int write_attempts = 0;
  int refused_writes = 0;        // write attempts that took nothing
  std::vector<long> awaited_ms;  // every AwaitInput the link asked for
  std::string damage_hint;       // what DamagedPacketsHint tells
  // The next this many write attempts take nothing (CTS held off); negative: forever.
  // Set from on_written, it also ends the run being taken after that byte.
  int refuse_writes = 0;
  // Called at a read attempt that finds nothing scripted any more.
  std::function<void()> on_drained;
  // Called after every byte the port takes, with that byte.
  std::function<void(std::uint8_t)> on_written;

 private:
  struct Item {
    std::uint32_t silence_ms;
    std::uint8_t byte;
    bool is_event = false;
    LineEvent event;
  };
  // The next byte, or false (after the attempt's time) when none is there now.
  bool TakeOne(std::uint8_t& byte);
  static std::size_t NextRun(const std::vector<std::size_t>& runs, std::size_t& at);

  FakeClock& clock_;
  Split split_;
  std::size_t next_read_run_ = 0;
  std::size_t next_write_run_ = 0;
  std::deque<Item> script_;
  std::deque<LineEvent> reported_;  // reached in the script, not yet taken
  std::uint32_t pending_silence_ = 0;
};

// Hands out one prepared port, or refuses to open.
class FakePortProvider : public PortProvider {
 public:
  std::string PortNameFor(int choice) override;
  std::unique_ptr<SerialPort> Open(const std::string& name) override;
  std::string OpenFailureCause() const override { return failure_cause; }
  std::string PortDescription(int choice) override;

  std::unique_ptr<SerialPort> port;  // nullptr: the open fails
  std::vector<std::string> opened;   // names asked for
  bool throw_on_configure = false;   // opened, then configuring fails
  std::string failure_cause;         // told after a failed open
  // What each choice's item tells; a choice past the end gives its COM name.
  std::vector<std::string> descriptions;
};

// Records everything the server shows, and lets tests play the operator.
class RecordingPanel : public OperatorPanel {
 public:
  void LogLine(const std::string& text) override;
  void PumpEvents() override;
  // The port's own sleep, unless on_await stands in for it as a window's would.
  void AwaitInput(SerialPort& port, std::chrono::milliseconds longest) override {
    if (on_await) return on_await(port, longest);
    OperatorPanel::AwaitInput(port, longest);
  }
  void SetStatusCaption(const std::string& text) override { captions.push_back(text); }
  void SetProgressPosition(int percent) override { progress.push_back(percent); }
  void SetProgressEnabled(bool enabled) override { progress_enabled = enabled; }
  void SetStartEnabled(bool enabled) override { start_enabled = enabled; }
  void SetPortChoiceEnabled(bool enabled) override { port_choice_enabled = enabled; }
  int PortChoice() const override { return port_choice; }
  bool DeleteProtection() const override { return delete_protection; }
  void CloseMainWindow() override { ++close_count; }

  std::vector<std::string> log;
  std::vector<std::string> captions;
  std::vector<int> progress;
  bool progress_enabled = false;
  bool start_enabled = true;
  bool port_choice_enabled = true;
  int port_choice = 0;
  bool delete_protection = true;
  int close_count = 0;
  int pump_count = 0;
  std::function<void()> on_pump;  // runs inside PumpEvents, as a click would
  std::function<void(SerialPort&, std::chrono::milliseconds)> on_await;
};

// Packet bytes as the C64 puts them on the line.
std::vector<std::uint8_t> PacketBytes(std::uint8_t type, const std::vector<std::uint8_t>& payload);
std::vector<std::uint8_t> PacketBytes(std::uint8_t type, const std::string& payload);
std::vector<std::uint8_t> StatusBytes(std::uint8_t code);

// A volume that refuses everything: its searches cannot start (with `search_error`),
// nothing opens, nothing changes. Root reads through any permission bits, so an
// unreadable directory is played this way.
class RefusingVolume : public Volume {
 public:
  std::unique_ptr<DirSearch> FindFirst(const std::string&, int& error) override {
    error = search_error;
    return nullptr;
  }
  std::unique_ptr<ReadableFile> OpenRead(const DirEntry&) override { return nullptr; }
  std::unique_ptr<PendingFile> CreateForSave(const std::string&) override { return nullptr; }
  bool Delete(const DirEntry&) override { return false; }
  bool Rename(const std::string&, const std::string&) override { return false; }
  bool ChangeDir(const std::string&) override { return false; }
  bool MakeDir(const std::string&) override { return false; }
  std::string CurrentDirDisplay() const override { return display; }

  int search_error = 2;  // ENOENT
  std::string display = "/srv/c64/games";
};

// A link wired to a scripted port and a fake clock, as most tests want it.
struct LinkRig {
  LinkRig();
  FakeClock clock;
  RecordingPanel panel;
  FakePortProvider ports;
  Link link;
  ScriptedPort* port;  // owned by link.PortHandle
  // Stop the link once the script has run out, so a server loop ends by itself.
  void StopWhenDrained();
  // Let the server's own OpenPort take the scripted port, for StartServing tests.
  void HandPortToProvider() { ports.port = std::move(link.PortHandle); }
  // Bytes the C64 sent that the link has not handed out: still on the line, or
  // taken in a run and waiting in the link's buffer.
  std::size_t Unread() const { return port->Pending() + link.BufferedInput(); }
};

}  // namespace dorvane::testing
