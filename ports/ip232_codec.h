// The ip232 escaping an emulator may put on its RS-232 byte stream over TCP or a
// pipe. 0xFF starts an escape in both directions: FF FF stands for one data byte
// 0xFF, and FF followed by any other byte carries the state of a modem line
// instead of data. From the emulator, FF 00 says the C64 dropped DTR and FF 01 that
// it raised it; towards the emulator, the byte after FF sets DCD (bit 0) and RI
// (bit 1). Pure code over bytes: the ports around it do the reading and writing.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dorvane {

inline constexpr std::uint8_t Ip232Escape = 0xFF;
// The emulator's signals.
inline constexpr std::uint8_t Ip232DtrDropped = 0x00;
inline constexpr std::uint8_t Ip232DtrRaised = 0x01;
// The bits of the line state sent towards the emulator.
inline constexpr std::uint8_t Ip232Dcd = 0x01;
inline constexpr std::uint8_t Ip232Ri = 0x02;

// The line for the log when packets keep arriving damaged with 0xFF among them on a
// link whose escaping is on (`escaping`) or off here: the other side may differ.
std::string Ip232MismatchHint(bool escaping);

// Appends the escaped form of `count` data bytes to `out`: every 0xFF doubled.
void Ip232EscapeData(const std::uint8_t* data, std::size_t count, std::vector<std::uint8_t>& out);

// The two bytes that set DCD and RI at the emulator (bits Ip232Dcd, Ip232Ri).
std::array<std::uint8_t, 2> Ip232LineState(bool dcd, bool ri);

// Turns the escaped stream back into data bytes and signals. An escape may be split
// across two reads: a lone FF at the end of one chunk is remembered and completed by
// the first byte of the next.
class Ip232Decoder {
 public:
  struct Step {
    std::size_t consumed = 0;  // escaped bytes taken from the input
    std::size_t produced = 0;  // data bytes written to the output
    // The byte after FF of a signal; decoding stopped right after it, so that the
    // caller can act on it before any byte that followed.
    std::optional<std::uint8_t> signal;
  };

  // Decodes from `in` into `out`, which has room for `room` bytes, until the input
  // is used up, the output is full, or a signal has been decoded.
  Step Decode(const std::uint8_t* in, std::size_t in_count, std::uint8_t* out, std::size_t room);

  // True while an FF has been taken whose second byte has not come yet.
  bool MidEscape() const { return escape_; }

  // Forgets a half-read escape: a new connection starts a new stream.
  void Reset() { escape_ = false; }

 private:
  bool escape_ = false;
};

}  // namespace dorvane
