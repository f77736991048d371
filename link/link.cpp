#include "link/link.h"

#include "link/crc8.h"

namespace dorvane {

Link::Link(OperatorPanel& panel, TickClock& clock, PortProvider& ports)
    : panel_(panel), clock_(clock), ports_(ports) {}

std::unique_ptr<SerialPort> Link::OpenPort() {
  const int choice = panel_.PortChoice();
  if (choice >= 0 && choice <= 3) PortName = ports_.PortNameFor(choice);
  // Logged before the open is tried, so the failure case shows it too.
  panel_.LogLine("Initialising port " + PortName);
  auto port = ports_.Open(PortName);
  PortFailureCause = port ? std::string() : ports_.OpenFailureCause();
  return port;
}

void Link::PollLink() {
  panel_.PumpEvents();
  if (PortHandle) {
    LineEvent event;
    while (PortHandle->TakeLineEvent(event)) {
      if (!event.LogText.empty()) panel_.LogLine(event.LogText);
      if (event.EndsSession) LineReset = true;
      if (event.EndsServing) StopRequested = true;
    }
  }
  const auto elapsed = static_cast<std::int32_t>(clock_.GetTickCount() - StartTick);
  if (ActiveLimitMs > 0 && elapsed > ActiveLimitMs) TimedOut = true;
}

std::uint8_t Link::ReadByte() {
  ActiveLimitMs = LinkTimeoutMs;
  TimedOut = false;
  StartTick = clock_.GetTickCount();
  std::uint8_t buffer = 0;
  for (;;) {
    // The limit is tested before each attempt, so the attempt right after the limit
    // passed still takes a byte that comes in then.
    PollLink();
    // A byte after the line ended the session belongs to the next one: left unread.
    if (LineReset) break;
    if (ActiveLimitMs == 0 && IdleWaitMs > 0 && !Interrupted() && PortHandle) {
      PortHandle->AwaitInput(std::chrono::milliseconds(IdleWaitMs));
    }
    const bool arrived = PortHandle && PortHandle->ReadAttempt(buffer);
    if (arrived || TimedOut || Interrupted()) break;
  }
  return buffer;
}

void Link::WriteByte(std::uint8_t value) {
  ActiveLimitMs = LinkTimeoutMs;
  TimedOut = false;
  StartTick = clock_.GetTickCount();
  for (;;) {
    PollLink();
    if (TimedOut || Interrupted()) return;
    if (PortHandle && PortHandle->WriteAttempt(value)) return;
  }
}

void Link::ReceivePacket() {
  Packet& packet = ReceivedPacket;
  packet.HeaderCrcError = false;
  packet.PayloadCrcError = false;

  packet.Type = ReadByte();
  if (TimedOut || Interrupted()) return;
  LinkTimeoutMs = OneSecondMs;  // every further byte of the packet has one second
  packet.Length = ReadByte();
  if (TimedOut || Interrupted()) return;
  packet.HeaderCrc = ReadByte();
  if (TimedOut || Interrupted()) return;

  CrcInit(CrcRegister, 0);
  CrcUpdate(CrcRegister, packet.Type);
  CrcUpdate(CrcRegister, packet.Length);
  CrcUpdate(CrcRegister, packet.HeaderCrc);
  if (CrcGet(CrcRegister) != 0) {
    // The payload is not read: its bytes stay on the line for the next receive.
    packet.HeaderCrcError = true;
    return;
  }
  if (packet.Length == 0) return;

  CrcInit(CrcRegister, 0);
  for (int i = 0; i <= packet.Length; ++i) {
    const std::uint8_t byte = ReadByte();
    packet.Payload[static_cast<std::size_t>(i)] = byte;
    if (TimedOut || Interrupted()) return;
    CrcUpdate(CrcRegister, byte);
  }
  packet.PayloadCrc = packet.Payload[packet.Length];
  packet.PayloadCrcError = CrcGet(CrcRegister) != 0;
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

  WriteByte(packet.Type);
  if (TimedOut) return;
  WriteByte(packet.Length);
  if (TimedOut) return;
  WriteByte(packet.HeaderCrc);
  if (TimedOut) return;
  if (packet.Length == 0) return;
  for (int i = 0; i < packet.Length; ++i) {
    WriteByte(packet.Payload[static_cast<std::size_t>(i)]);
    if (TimedOut) return;
  }
  WriteByte(packet.PayloadCrc);
}

void Link::DiscardUntilQuiet(std::uint16_t quiet_ms, int max_bytes) {
  LinkTimeoutMs = quiet_ms;
  for (int dropped = 0; dropped < max_bytes; ++dropped) {
    ReadByte();
    if (TimedOut || Interrupted()) break;
  }
  LinkTimeoutMs = OneSecondMs;
}

void Link::SendStatus(std::uint8_t code) {
  OutgoingPacket.Type = code;
  OutgoingPacket.Length = 0;
  SendPacket();
}

}  // namespace dorvane
