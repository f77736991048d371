// link/: the protocol, from the bytes on the line to packets and statuses, and the
// interfaces it is served through (SerialPort, PortProvider, OperatorPanel,
// TickClock). It includes nothing of the rest of Dorvane.
//
// The serial link: reads and writes under a time limit and the operator's stop
// flag, and the packet layer above them. Bytes cross the port in runs: a read
// takes whatever has arrived into the link's own buffer, from which ReadByte hands
// them out one by one, and a packet goes to the port in one piece.
// One Link exists per run; tests make a fresh one with a scripted port and a fake
// clock.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "link/log_budget.h"
#include "link/operator_panel.h"
#include "link/port_provider.h"
#include "link/serial_port.h"
#include "link/tick_clock.h"
#include "link/wire_format.h"

namespace dorvane {

class Link {
 public:
  // The link keeps references to all three; they must outlive it.
  Link(OperatorPanel& panel, TickClock& clock, PortProvider& ports);

  // --- Byte I/O -----------------------------------------------------------------

  // Maps the operator's port choice to PortName, logs "Initialising port " and the
  // name, and opens the port. Returns nullptr when it cannot be opened; throws
  // OsError when it opened but could not be configured. Input still buffered from an
  // earlier port is dropped: it belongs to that port, as do LineDown and the count
  // towards the damage hint.
  std::unique_ptr<SerialPort> OpenPort();

  // Pumps events, takes the port's line events (logging each, setting LineReset for
  // one that ends the session and StopRequested for one that ends serving), then sets
  // TimedOut once more than ActiveLimitMs have passed since StartTick. Never clears
  // TimedOut.
  //
  // An event that ends the session also drops every byte buffered but not yet handed
  // out: they came on the old line, before the event (a port never hands over a
  // byte from after an event before that event has been taken), and the C64, or
  // the connection, that sent them has gone. The next session starts with the first
  // byte the port hands over after the event.
  void PollLink();

  // True once the operator asked to stop or a line event ended the session: every
  // byte wait returns at once, with no byte, until the server has started over.
  bool Interrupted() const { return StopRequested || LineReset; }

  // Waits for one byte under LinkTimeoutMs and StopRequested. The result is a
  // received byte only when neither TimedOut nor Interrupted() is set on return; a
  // byte that arrives in the attempt right after the limit passed is consumed and
  // returned with TimedOut set. Events are pumped before every byte, a buffered one
  // included; the port is asked only once the buffer is empty, and then for every
  // byte that has arrived.
  std::uint8_t ReadByte();

  // Writes one byte unless TimedOut or StopRequested is set first. While the port
  // takes nothing (CTS held off, device gone) it keeps pumping events between
  // attempts and gives up on the time limit or the stop flag, so a write never
  // hangs the window. On return the byte was written, or TimedOut or
  // StopRequested is set.
  void WriteByte(std::uint8_t value);

  // WriteByte for `count` bytes in order, offered to the port in as few pieces as it
  // takes. The limit applies to each wait for the port to take something: it starts
  // afresh whenever the port took part of the run, as it did for each byte of
  // WriteByte. On return every byte was written, or TimedOut or Interrupted() is set
  // and the bytes after the last one taken were not.
  void WriteBytes(const std::uint8_t* data, std::size_t count);

  // Bytes received from the port that no ReadByte has handed out yet.
  std::size_t BufferedInput() const { return input_end_ - input_next_; }

  // --- Packets ------------------------------------------------------------------

  // Reads one packet into ReceivedPacket. It came whole with a sound header when
  // TimedOut, StopRequested and HeaderCrcError are all clear on return. The first
  // byte waits under the caller's LinkTimeoutMs; once it has come, LinkTimeoutMs
  // becomes 1000 and stays so. A bad header leaves the payload unread on the line.
  void ReceivePacket();

  // Sends OutgoingPacket as it stands, header and payload as one run under
  // LinkTimeoutMs (see WriteBytes), computing both CRCs afresh; a second call on an
  // unchanged packet repeats the same bytes.
  void SendPacket();

  // Makes OutgoingPacket the empty packet whose type is `code`, and sends it.
  void SendStatus(std::uint8_t code);

  // One line for the log, once per port opened: packets keep arriving damaged with 0xFF
  // among their bytes, and the port knows a setting that may cause it (see
  // SerialPort::DamagedPacketsHint). Empty otherwise; taking it clears it.
  std::string TakeDamageHint() { return std::exchange(damage_hint_, std::string()); }

  // Damaged packets in a row, with 0xFF among their bytes, before the hint is given.
  static constexpr int DamagedPacketsForHint = 3;

  // Reads and drops bytes until the line has been quiet for more than `quiet_ms` (or
  // the stop flag is set, or `max_bytes` were dropped). The C64 waits for an answer
  // after every packet, so after a damaged header this clears the rest of that packet
  // instead of reading its payload as new packets. Leaves LinkTimeoutMs at 1000.
  void DiscardUntilQuiet(std::uint16_t quiet_ms, int max_bytes = MaxPacketLength * 4);

  // --- Lines a flood repeats -----------------------------------------------------

  // Whether an occurrence of `kind` may be logged in full now; false when the
  // budget only counts it (see LogBudget). Line events pass through it too.
  bool AllowRepeated(Repeated kind) { return Budget.Allow(kind, clock_.GetTickCount()); }
  // Logs the summaries of what the budget counted: those due, or with `all` every one.
  // PollLink logs the due ones by itself.
  void FlushRepeated(bool all) { Budget.Flush(clock_.GetTickCount(), all); }

  // --- State, for the whole run -------------------------------------------------

  LogBudget Budget;
  std::unique_ptr<SerialPort> PortHandle;
  std::string PortName;
  // Why the last OpenPort found no port, as the provider tells it; empty otherwise.
  std::string PortFailureCause;
  std::uint16_t LinkTimeoutMs = 0;  // 0: no limit
  std::int32_t ActiveLimitMs = 0;
  std::uint32_t StartTick = 0;
  bool TimedOut = false;
  bool StopRequested = false;
  // Set by a line event that ends the session (device lost, connection replaced, DTR
  // dropped); the server abandons any transfer, clears it and waits for a request.
  bool LineReset = false;
  // Set by a line event that takes the line away (a lost device), cleared by the next
  // event (the device back): the server does not claim to wait for the C64 meanwhile.
  bool LineDown = false;
  // While a byte wait has no time limit, the link may sleep this long for input
  // between two event pumps (OperatorPanel::AwaitInput); 0 keeps every attempt at
  // about 2 ms. Waiting for the next request that way costs hundreds of wake-ups a
  // second for nothing. Only a front end whose events end that sleep may set it:
  // the headless server's stop signals cut the port's sleep short, and the window
  // sleeps in its own event loop, which a click ends as a byte does.
  std::uint16_t IdleWaitMs = 0;

  Packet ReceivedPacket;
  Packet OutgoingPacket;
  std::uint8_t CrcRegister = 0;

  OperatorPanel& Panel() { return panel_; }
  TickClock& Clock() { return clock_; }

  // Room for a whole packet and the start of the next: the C64 sends nothing more
  // until it is answered, so one read takes all there is.
  static constexpr std::size_t InputBufferSize = 512;

 private:
  void DropBufferedInput() { input_next_ = input_end_ = 0; }
  // PollLink without the time limit.
  void PumpAndTakeLineEvents();
  // Counts a packet that came whole (`damaged` or sound) towards the hint.
  void NoteReceived(bool damaged);

  OperatorPanel& panel_;
  TickClock& clock_;
  PortProvider& ports_;
  std::array<std::uint8_t, InputBufferSize> input_{};
  std::size_t input_next_ = 0;  // the next byte ReadByte hands out
  std::size_t input_end_ = 0;   // one past the last byte received
  int damaged_in_a_row_ = 0;
  bool ff_in_damage_ = false;  // 0xFF among the bytes since the last sound packet
  bool hint_given_ = false;
  std::string damage_hint_;
};

// The limit for every byte after the first of a packet, and for the server's replies.
inline constexpr std::uint16_t OneSecondMs = 1000;

}  // namespace dorvane
