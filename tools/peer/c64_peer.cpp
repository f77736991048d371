#include "tools/peer/c64_peer.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "link/crc8.h"
#include "link/wire_format.h"
#include "tools/peer/petscii.h"

namespace dorvane::peer {

namespace {

std::vector<std::uint8_t> EncodePacket(std::uint8_t type, const std::uint8_t* payload,
                                       std::size_t count) {
  const auto length = static_cast<std::uint8_t>(count);
  const std::uint8_t header[2] = {type, length};
  // Sized once and filled in place: growing a three-byte vector by insert makes
  // GCC's optimiser see a memcpy past its end that never happens.
  std::vector<std::uint8_t> bytes(count > 0 ? count + 4 : 3);
  bytes[0] = type;
  bytes[1] = length;
  bytes[2] = Crc8Of(header, 2);
  if (count > 0) {
    std::copy_n(payload, count, bytes.begin() + 3);
    bytes.back() = Crc8Of(payload, count);
  }
  return bytes;
}

std::vector<std::uint8_t> StatusPacket(std::uint8_t code) { return EncodePacket(code, nullptr, 0); }

std::string Hex2(std::uint8_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", value);
  return text;
}

// The most the peer drops while it waits for a quiet line: far more than any
// sane server says between two packets.
constexpr std::size_t MaxDrainBytes = 65536;
// Long enough for a few bytes on a slow line, short enough not to matter.
constexpr std::uint16_t AbortWriteMs = 250;

}  // namespace

C64Peer::C64Peer(SerialPort& port, TickClock& clock, PeerOptions options)
    : options_(std::move(options)), clock_(clock), link_(panel_, clock_, ports_) {
  auto line = std::make_unique<PacedPort>(port, options_.ByteInterval);
  line_ = line.get();
  link_.PortHandle = std::move(line);
  panel_.AttachedLink = &link_;
  panel_.StopRequested = options_.StopRequested;
}

LoadResult C64Peer::Load(std::string_view name) { return Fetch(name); }

LoadResult C64Peer::Directory() { return Fetch("$"); }

LoadResult C64Peer::Fetch(std::string_view name) {
  LoadResult result;
  if (!BeginRequest(ptLoad, name, result)) return result;

  bool opened = false;  // the server said stOk to the request
  int retries = 0;
  std::vector<std::uint8_t> last_reply;  // what the server gets again on its stRepeat
  const auto reply = [&](std::uint8_t code) {
    last_reply = StatusPacket(code);
    return SendTransfer(last_reply, result);
  };

  for (;;) {
    const Rx rx = Receive();
    if (rx == Rx::kStopped) {
      GiveUp(result, PeerError::kStopped, "", opened);
      return result;
    }
    if (rx == Rx::kSilent) {
      GiveUp(result, PeerError::kTimeout,
             (opened ? "no block " : "no reply to the request ") + WithinLimit(), opened);
      return result;
    }
    if (rx == Rx::kDamaged) {
      if (++retries > options_.MaxRetries) {
        GiveUp(result, PeerError::kTooManyRetries, "the server's packets kept arriving damaged",
               opened);
        return result;
      }
      Drain(options_.DrainQuietMs);
      ++stats_.RepeatsSent;
      if (!reply(stRepeat)) return result;
      continue;
    }

    const Packet& packet = link_.ReceivedPacket;
    if (packet.Type == ptData && packet.Length > 0 && opened) {
      result.Data.insert(result.Data.end(), packet.Payload.begin(),
                         packet.Payload.begin() + packet.Length);
      retries = 0;
      Report(result.Data.size(), std::nullopt);
      if (!reply(stOk)) return result;
      continue;
    }
    if (packet.Length == 0 && packet.Type == stOk && !opened) {
      opened = true;
      retries = 0;
      if (!reply(stOk)) return result;
      continue;
    }
    if (packet.Length == 0 && packet.Type == stEndOfFile && opened) {
      result.Status = stEndOfFile;
      result.Succeeded = true;
      Report(result.Data.size(), result.Data.size());
      return result;
    }
    if (packet.Length == 0 && packet.Type == stRepeat && !last_reply.empty()) {
      if (++retries > options_.MaxRetries) {
        GiveUp(result, PeerError::kTooManyRetries, "the server kept asking for a repeat", opened);
        return result;
      }
      ++stats_.RepeatsReceived;
      if (!SendTransfer(last_reply, result)) return result;
      continue;
    }
    if (packet.Length == 0 && packet.Type >= stOk && !opened) {
      // The request was refused (stOpenError); the server is back waiting.
      result.Status = packet.Type;
      return result;
    }
    GiveUp(result, PeerError::kProtocol,
           "unexpected packet of type " + Hex2(packet.Type) + " with " +
               std::to_string(packet.Length) + " bytes",
           opened);
    return result;
  }
}

PeerResult C64Peer::Save(std::string_view name, std::span<const std::uint8_t> data) {
  PeerResult result;
  if (!BeginRequest(ptSave, name, result)) return result;

  int retries = 0;
  std::vector<std::uint8_t> last_reply;
  for (bool opened = false; !opened;) {
    const Rx rx = Receive();
    if (rx == Rx::kStopped || rx == Rx::kSilent) {
      Fail(result, rx == Rx::kStopped ? PeerError::kStopped : PeerError::kTimeout,
           rx == Rx::kStopped ? "" : "no reply to the request " + WithinLimit());
      return result;
    }
    const Packet& packet = link_.ReceivedPacket;
    if (rx == Rx::kDamaged ||
        (packet.Length == 0 && packet.Type == stRepeat && !last_reply.empty())) {
      if (++retries > options_.MaxRetries) {
        GiveUp(result, PeerError::kTooManyRetries, "the server's reply kept arriving damaged",
               true);
        return result;
      }
      if (rx == Rx::kDamaged) {
        Drain(options_.DrainQuietMs);
        ++stats_.RepeatsSent;
        last_reply = StatusPacket(stRepeat);
      } else {
        ++stats_.RepeatsReceived;
      }
      if (!SendTransfer(last_reply, result)) return result;
      continue;
    }
    if (packet.Length == 0 && packet.Type == stOk) {
      opened = true;
    } else if (packet.Length == 0 && packet.Type >= stOk) {
      result.Status = packet.Type;  // the file cannot be created
      return result;
    } else {
      Fail(result, PeerError::kProtocol, "unexpected packet of type " + Hex2(packet.Type));
      return result;
    }
  }
  result.Status = stOk;
  Report(0, data.size());

  for (std::size_t offset = 0; offset < data.size();) {
    const std::size_t count =
        std::min<std::size_t>(static_cast<std::size_t>(MaxPayloadLength), data.size() - offset);
    const std::vector<std::uint8_t> block = EncodePacket(ptData, data.data() + offset, count);
    if (!SendTransfer(block, result)) return result;
    retries = 0;
    for (bool acknowledged = false; !acknowledged;) {
      const Rx rx = Receive();
      if (rx == Rx::kStopped) {
        GiveUp(result, PeerError::kStopped, "", true);
        return result;
      }
      if (rx == Rx::kSilent) {
        GiveUp(result, PeerError::kTimeout, "no answer to a block " + WithinLimit(), true);
        return result;
      }
      const Packet& packet = link_.ReceivedPacket;
      const bool asked_again = rx == Rx::kPacket && packet.Length == 0 && packet.Type == stRepeat;
      if (rx == Rx::kPacket && packet.Length == 0 && packet.Type == stOk) {
        acknowledged = true;
      } else if (rx == Rx::kDamaged || asked_again) {
        if (++retries > options_.MaxRetries) {
          GiveUp(result, PeerError::kTooManyRetries, "a block could not be delivered", true);
          return result;
        }
        if (asked_again) {
          ++stats_.RepeatsReceived;
          Drain(options_.ResyncQuietMs);
          if (!SendTransfer(block, result)) return result;
        } else {
          // The server's answer got damaged; it says it again on our stRepeat.
          Drain(options_.DrainQuietMs);
          ++stats_.RepeatsSent;
          if (!SendTransfer(StatusPacket(stRepeat), result)) return result;
        }
      } else if (rx == Rx::kPacket && packet.Length == 0 && packet.Type > stOk) {
        // The server could not keep the block (stError: a full disk): the save has
        // failed, and we end it as an abort, the server's old file kept.
        result.Status = packet.Type;
        WriteInTransfer(StatusPacket(stAbort), result);
        return result;
      } else {
        GiveUp(result, PeerError::kProtocol,
               "unexpected packet of type " + Hex2(packet.Type) + " after a block", true);
        return result;
      }
    }
    offset += count;
    Report(offset, data.size());
  }

  // Not a transfer packet for the faults: nothing answers it, so a damaged end
  // would go unnoticed.
  if (!WriteInTransfer(StatusPacket(stEndOfFile), result)) return result;
  result.Succeeded = true;
  return result;
}

PeerResult C64Peer::Command(std::string_view text) {
  PeerResult result;
  // A letter with a colon that names no command is never answered: the server goes
  // back to waiting without a word, and the peer would only see a time-out.
  constexpr std::string_view kLetters = "csmr";
  if (text.size() >= 2 && text[1] == ':' && kLetters.find(text[0]) == std::string_view::npos) {
    Fail(result, PeerError::kBadRequest,
         "the server does not answer the command " + std::string(text.substr(0, 2)) +
             " (it knows c:, m:, r: and s:, in lower case)");
    return result;
  }
  if (!BeginRequest(ptCommand, text, result)) return result;
  const Rx rx = Receive();
  const Packet& packet = link_.ReceivedPacket;
  if (rx == Rx::kStopped) {
    Fail(result, PeerError::kStopped, "");
  } else if (rx == Rx::kSilent) {
    Fail(result, PeerError::kTimeout, "no reply to the command " + WithinLimit());
  } else if (rx == Rx::kDamaged) {
    // The server has gone back to waiting; a repeat cannot be asked for.
    Fail(result, PeerError::kProtocol, "the reply arrived damaged");
  } else if (packet.Length == 0 && packet.Type >= stOk) {
    result.Status = packet.Type;
    result.Succeeded = packet.Type == stOk;
  } else {
    Fail(result, PeerError::kProtocol, "unexpected packet of type " + Hex2(packet.Type));
  }
  return result;
}

bool C64Peer::BeginRequest(std::uint8_t type, std::string_view text, PeerResult& result) {
  link_.StopRequested = false;
  const std::vector<std::uint8_t> name = ToPetscii(text);
  if (name.size() > static_cast<std::size_t>(MaxPayloadLength)) {
    Fail(result, PeerError::kBadRequest,
         "longer than " + std::to_string(MaxPayloadLength) + " bytes");
    return false;
  }
  if (!Attention(result)) return false;
  return WriteBytes(EncodePacket(type, name.data(), name.size()), result);
}

bool C64Peer::Attention(PeerResult& result) {
  std::string why = "no answer " + WithinLimit();
  for (int attempt = 0; attempt < std::max(1, options_.AttentionTries); ++attempt) {
    // Whatever is waiting now is left over from an earlier exchange.
    Drain(1);
    if (link_.StopRequested) break;
    if (!WriteBytes({ptAttention}, result)) return false;
    const std::uint64_t before = line_->BytesRead();
    link_.LinkTimeoutMs = options_.ReplyTimeoutMs;
    const std::uint8_t echo = link_.ReadByte();
    if (link_.StopRequested) break;
    // A byte taken in the attempt right after the limit passed still counts.
    if (line_->BytesRead() > before) {
      if (echo == AttentionEcho(ptAttention)) return true;
      why = "answer " + Hex2(echo) + " instead of " + Hex2(AttentionEcho(ptAttention));
      // A server still in a transfer answers with a packet; let it finish.
      Drain(options_.DrainQuietMs);
    }
  }
  if (link_.StopRequested) {
    Fail(result, PeerError::kStopped, "");
  } else {
    Fail(result, PeerError::kNoEcho, why);
  }
  return false;
}

bool C64Peer::WriteBytes(const std::vector<std::uint8_t>& bytes, PeerResult& result) {
  // A stop is taken before a packet, never inside one: a torn packet would leave
  // the server reading the next one out of step.
  panel_.PumpEvents();
  if (link_.StopRequested) {
    Fail(result, PeerError::kStopped, "");
    return false;
  }
  panel_.Mute = true;
  bool written = true;
  for (std::uint8_t b : bytes) {
    link_.LinkTimeoutMs = options_.ReplyTimeoutMs;
    link_.WriteByte(b);
    if (link_.TimedOut) {
      written = false;
      break;
    }
  }
  panel_.Mute = false;
  if (!written) Fail(result, PeerError::kTimeout, "the port took no data " + WithinLimit());
  return written;
}

bool C64Peer::SendTransfer(const std::vector<std::uint8_t>& packet, PeerResult& result) {
  const bool has_payload = packet.size() > static_cast<std::size_t>(HeaderLength);
  const bool eligible =
      fault_.Kind != FaultKind::kNone && (fault_.Kind != FaultKind::kCorruptPayload || has_payload);
  if (!eligible || fault_.Skip > 0) {
    if (eligible) --fault_.Skip;
    return WriteInTransfer(packet, result);
  }

  const Fault fault = fault_;
  fault_ = Fault{};
  ++stats_.FaultsApplied;
  const std::uint8_t mask = fault.Mask != 0 ? fault.Mask : 0x01;
  std::vector<std::uint8_t> wire = packet;
  switch (fault.Kind) {
    case FaultKind::kCorruptHeader:
      wire[static_cast<std::size_t>(std::clamp(fault.Offset, 0, HeaderLength - 1))] ^= mask;
      break;
    case FaultKind::kCorruptPayload: {
      const std::size_t length = packet.size() - HeaderLength - 1;
      wire[HeaderLength + static_cast<std::size_t>(std::max(fault.Offset, 0)) % length] ^= mask;
      break;
    }
    case FaultKind::kDropTail:
      wire.resize(
          static_cast<std::size_t>(std::clamp(fault.Keep, 1, static_cast<int>(packet.size()) - 1)));
      break;
    case FaultKind::kSilence:
      if (!Pause(fault.SilenceMs)) {
        GiveUp(result, PeerError::kStopped, "", true);
        return false;
      }
      break;
    case FaultKind::kAbortStatus:
    case FaultKind::kAbortAttention: {
      const bool status = fault.Kind == FaultKind::kAbortStatus;
      if (!WriteInTransfer(StatusPacket(status ? stAbort : ptAttention), result)) return false;
      Fail(result, PeerError::kAborted, status ? "stAbort sent" : "0x10 sent");
      return false;
    }
    case FaultKind::kNone:
      break;
  }
  return WriteInTransfer(wire, result);
}

bool C64Peer::WriteInTransfer(const std::vector<std::uint8_t>& packet, PeerResult& result) {
  if (WriteBytes(packet, result)) return true;
  if (result.Error == PeerError::kStopped) SendAbort();
  return false;
}

C64Peer::Rx C64Peer::Receive() {
  const std::uint64_t before = line_->BytesRead();
  link_.LinkTimeoutMs = options_.ReplyTimeoutMs;
  link_.ReceivePacket();
  if (link_.StopRequested) return Rx::kStopped;
  const Packet& packet = link_.ReceivedPacket;
  if (link_.TimedOut) return line_->BytesRead() == before ? Rx::kSilent : Rx::kDamaged;
  if (packet.HeaderCrcError || packet.PayloadCrcError) return Rx::kDamaged;
  return Rx::kPacket;
}

void C64Peer::Drain(std::uint16_t quiet_ms) {
  for (std::size_t dropped = 0; dropped < MaxDrainBytes; ++dropped) {
    const std::uint64_t before = line_->BytesRead();
    link_.LinkTimeoutMs = std::max<std::uint16_t>(quiet_ms, 1);  // 0 would wait for ever
    link_.ReadByte();
    if (link_.StopRequested || line_->BytesRead() == before) return;
  }
}

bool C64Peer::Pause(std::uint32_t ms) {
  const std::uint32_t start = clock_.GetTickCount();
  for (;;) {
    const std::uint32_t elapsed = clock_.GetTickCount() - start;
    if (elapsed >= ms) return true;
    // The server owes the peer nothing now; whatever it says meanwhile is dropped.
    link_.LinkTimeoutMs = static_cast<std::uint16_t>(std::min<std::uint32_t>(ms - elapsed, 60000));
    link_.ReadByte();
    if (link_.StopRequested) return false;
  }
}

void C64Peer::Fail(PeerResult& result, PeerError error, std::string detail) {
  result.Error = error;
  result.Detail = std::move(detail);
  result.Succeeded = false;
}

void C64Peer::GiveUp(PeerResult& result, PeerError error, std::string detail, bool in_transfer) {
  Fail(result, error, std::move(detail));
  if (in_transfer) SendAbort();
}

void C64Peer::SendAbort() {
  const bool stopped = link_.StopRequested;
  link_.StopRequested = false;
  panel_.Mute = true;
  link_.LinkTimeoutMs = AbortWriteMs;
  for (std::uint8_t b : StatusPacket(stAbort)) {
    link_.WriteByte(b);
    if (link_.TimedOut) break;
  }
  panel_.Mute = false;
  link_.StopRequested = stopped;
}

void C64Peer::Report(std::uint64_t done, std::optional<std::uint64_t> total) {
  if (options_.Progress) options_.Progress(done, total);
}

std::string C64Peer::WithinLimit() const {
  return "within " + std::to_string(options_.ReplyTimeoutMs) + " ms";
}

}  // namespace dorvane::peer
