#include "link/link.h"

#include "link/crc8.h"
#include "link/os_error.h"

namespace dorvane {

Link::Link(OperatorPanel& panel, TickClock& clock, PortProvider& ports)
    : Budget(panel), panel_(panel), clock_(clock), ports_(ports) {}

std::unique_ptr<SerialPort> Link::OpenPort() {
  const int choice = panel_.PortChoice();
  if (choice >= 0 && choice <= 3) PortName = ports_.PortNameFor(choice);
  // Logged before the open is tried, so the failure case shows it too.
  panel_.LogLine("Initialising port " + PortName);
  DropBufferedInput();
  // A new port starts with its line up and no damage counted against it.
  LineDown = false;
  damaged_in_a_row_ = 0;
  ff_in_damage_ = false;
  hint_given_ = false;
  damage_hint_.clear();
  auto port = ports_.Open(PortName);
  PortFailureCause = port ? std::string() : ports_.OpenFailureCause();
  return port;
}

void Link::PollLink() {
  PumpAndTakeLineEvents();
  const std::uint32_t now = clock_.GetTickCount();
  Budget.Flush(now);
  const auto elapsed = static_cast<std::int32_t>(now - StartTick);
  if (ActiveLimitMs > 0 && elapsed > ActiveLimitMs) TimedOut = true;
}

namespace {

// Calls the port: whatever it raises is a fault of the line.
template <typename Call>
auto OnTheLine(Call&& call) {
  try {
    return call();
  } catch (const LineError&) {
    throw;
  } catch (const OsError& error) {
    throw LineError(error.Code());
  }
}

}  // namespace

void Link::PumpAndTakeLineEvents() {
  panel_.PumpEvents();
  if (!PortHandle) return;
  LineEvent event;
  while (PortHandle->TakeLineEvent(event)) {
    // A connection opened and closed again and again must not fill the log; an event
    // that leaves the session alone ("Listening on") or tells of the device itself
    // ("Port lost", "Port back") is always logged.
    const bool repeatable = event.EndsSession && !event.EndsServing &&
                            event.DevicePresence == LineEvent::Presence::Unchanged;
    if (!event.LogText.empty() && (!repeatable || AllowRepeated(Repeated::kLineEvent))) {
      panel_.LogLine(event.LogText);
    }
    LineDown = event.LineDown;
    if (event.DevicePresence != LineEvent::Presence::Unchanged) {
      panel_.SetPortLost(event.DevicePresence == LineEvent::Presence::Lost ? PortName : "");
    }
    if (event.EndsSession) {
      LineReset = true;
      DropBufferedInput();  // the old line's bytes: see the header
    }
    if (event.EndsServing) StopRequested = true;
  }
}

std::uint8_t Link::ReadByte() {
  ActiveLimitMs = LinkTimeoutMs;
  TimedOut = false;
  // A byte that came in the same run as an earlier one is handed out as if its own
  // attempt had found it at once: no wait began, so no limit can have passed, and
  // the clock is not asked (twice a byte, it was a good part of a block's cost).
  if (input_next_ < input_end_) {
    PumpAndTakeLineEvents();
    if (LineReset) return 0;  // the buffer went with the old line
    return input_[input_next_++];
  }
  StartTick = clock_.GetTickCount();
  std::uint8_t byte = 0;
  for (;;) {
    // The limit is tested before each attempt, so the attempt right after the limit
    // passed still takes a byte that comes in then.
    PollLink();
    // A byte after the line ended the session belongs to the next one: left unread.
    if (LineReset) break;
    if (ActiveLimitMs == 0 && IdleWaitMs > 0 && !Interrupted() && PortHandle) {
      OnTheLine([&] { panel_.AwaitInput(*PortHandle, std::chrono::milliseconds(IdleWaitMs)); });
    }
    const std::size_t got = OnTheLine(
        [&] { return PortHandle ? PortHandle->ReadSome(input_.data(), input_.size()) : 0; });
    if (got > 0) {
      input_next_ = 1;
      input_end_ = got < input_.size() ? got : input_.size();
      byte = input_[0];
      break;
    }
    if (TimedOut || Interrupted()) break;
  }
  return byte;
}

void Link::WriteByte(std::uint8_t value) { WriteBytes(&value, 1); }

void Link::WriteBytes(const std::uint8_t* data, std::size_t count) {
  ActiveLimitMs = LinkTimeoutMs;
  TimedOut = false;
  StartTick = clock_.GetTickCount();
  std::size_t sent = 0;
  while (sent < count) {
    PollLink();
    if (TimedOut || Interrupted()) return;
    const std::size_t took = OnTheLine(
        [&] { return PortHandle ? PortHandle->WriteSome(data + sent, count - sent) : 0; });
    if (took > 0) {
      sent += took < count - sent ? took : count - sent;
      StartTick = clock_.GetTickCount();  // progress: the wait for the rest starts now
    }
  }
}

void Link::ReceivePacket() {
  Packet& packet = ReceivedPacket;
  packet.HeaderCrcError = false;
  packet.PayloadCrcError = false;

  packet.Type = ReadByte();
  if (TimedOut || Interrupted()) return;
  LinkTimeoutMs = OneSecondMs;  // every further byte of the packet has one second
  ff_in_damage_ = ff_in_damage_ || packet.Type == 0xFF;
  packet.Length = ReadByte();
  if (TimedOut || Interrupted()) return;
  ff_in_damage_ = ff_in_damage_ || packet.Length == 0xFF;
  packet.HeaderCrc = ReadByte();
  if (TimedOut || Interrupted()) return;
  ff_in_damage_ = ff_in_damage_ || packet.HeaderCrc == 0xFF;

  CrcInit(CrcRegister, 0);
  CrcUpdate(CrcRegister, packet.Type);
  CrcUpdate(CrcRegister, packet.Length);
  CrcUpdate(CrcRegister, packet.HeaderCrc);
  if (CrcGet(CrcRegister) != 0) {
    // The payload is not read: its bytes stay on the line for the next receive.
    packet.HeaderCrcError = true;
    NoteReceived(true);
    return;
  }
  if (packet.Length == 0) return NoteReceived(false);

  CrcInit(CrcRegister, 0);
  for (int i = 0; i <= packet.Length; ++i) {
    const std::uint8_t byte = ReadByte();
    packet.Payload[static_cast<std::size_t>(i)] = byte;
    if (TimedOut || Interrupted()) return;
    ff_in_damage_ = ff_in_damage_ || byte == 0xFF;
    CrcUpdate(CrcRegister, byte);
  }
  packet.PayloadCrc = packet.Payload[packet.Length];
  packet.PayloadCrcError = CrcGet(CrcRegister) != 0;
  NoteReceived(packet.PayloadCrcError);
}

void Link::NoteReceived(bool damaged) {
  if (!damaged) {
    damaged_in_a_row_ = 0;
    ff_in_damage_ = false;
    return;
  }
  ++damaged_in_a_row_;
  if (hint_given_ || damaged_in_a_row_ < DamagedPacketsForHint || !ff_in_damage_ || !PortHandle) {
    return;
  }
  damage_hint_ = PortHandle->DamagedPacketsHint();
  hint_given_ = !damage_hint_.empty();
}

void Link::SendPacket() {
  Packet& packet = OutgoingPacket;
  CrcInit(CrcRegister, 0);
  CrcUpdate(CrcRegister, packet.Type);
  CrcUpdate(CrcRegister, packet.Length);
  packet.HeaderCrc = CrcGet(CrcRegister);
  if (packet.Length > 0) {
    CrcInit(CrcRegister, 0);
    for (int i = 0; i < packet.Length; ++i) {
      CrcUpdate(CrcRegister, packet.Payload[static_cast<std::size_t>(i)]);
    }
    packet.PayloadCrc = CrcGet(CrcRegister);
  }

  // Header and payload in one run: a port that takes it whole needs one write.
  std::array<std::uint8_t, MaxPacketLength> wire{};
  std::size_t size = 0;
  wire[size++] = packet.Type;
  wire[size++] = packet.Length;
  wire[size++] = packet.HeaderCrc;
  if (packet.Length > 0) {
    for (int i = 0; i < packet.Length; ++i)
      wire[size++] = packet.Payload[static_cast<std::size_t>(i)];
    wire[size++] = packet.PayloadCrc;
  }
  WriteBytes(wire.data(), size);
}

void Link::DiscardUntilQuiet(std::uint16_t quiet_ms, int max_bytes) {
  LinkTimeoutMs = quiet_ms;
  for (int dropped = 0; dropped < max_bytes; ++dropped) {
    const std::uint8_t byte = ReadByte();
    if (TimedOut || Interrupted()) break;
    ff_in_damage_ = ff_in_damage_ || byte == 0xFF;
  }
  LinkTimeoutMs = OneSecondMs;
}

void Link::SendStatus(std::uint8_t code) {
  OutgoingPacket.Type = code;
  OutgoingPacket.Length = 0;
  SendPacket();
}

}  // namespace dorvane
