// Misbehaviour on purpose, for the soak: one fault at a time, applied to a packet
// the peer sends during a transfer (a data block of a save, or a reply during a
// load or listing). The request packet itself is never touched, nor the closing
// stEndOfFile of a save, which the server does not answer and so could not be
// noticed as lost.
#pragma once

#include <cstdint>

namespace dorvane::peer {

enum class FaultKind {
  kNone,
  kCorruptHeader,   // flip bits of one header byte; the CRC stays as computed
  kCorruptPayload,  // flip bits of one payload byte (waits for a packet with one)
  kDropTail,        // send only the first `Keep` bytes, then go on as if sent whole
  kSilence,         // say nothing for `SilenceMs` before the packet
  kAbortStatus,     // send stAbort in its place and give up the transfer
  kAbortAttention,  // send an empty packet of type 0x10 in its place and give up
};

struct Fault {
  FaultKind Kind = FaultKind::kNone;
  // Transfer packets to let pass unharmed before this one.
  int Skip = 0;
  // kCorruptHeader: header byte 0 to 2; kCorruptPayload: payload byte, modulo the
  // packet's length.
  int Offset = 2;
  std::uint8_t Mask = 0x01;     // bits flipped by the corruptions; never 0
  int Keep = 1;                 // kDropTail: bytes sent, fewer than the packet has
  std::uint32_t SilenceMs = 0;  // kSilence
};

}  // namespace dorvane::peer
