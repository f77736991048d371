#include "ports/ip232_codec.h"

namespace dorvane {

std::string Ip232MismatchHint(bool escaping) {
  return std::string(
             "Packets keep arriving damaged, with the byte 0xFF among them: the two "
             "sides may disagree about --ip232 (it is ") +
         (escaping ? "on" : "off") + " here; the emulator's RsDevice ip232 setting must match)";
}

void Ip232EscapeData(const std::uint8_t* data, std::size_t count, std::vector<std::uint8_t>& out) {
  for (std::size_t i = 0; i < count; ++i) {
    out.push_back(data[i]);
    if (data[i] == Ip232Escape) out.push_back(Ip232Escape);
  }
}

std::array<std::uint8_t, 2> Ip232LineState(bool dcd, bool ri) {
  return {Ip232Escape, static_cast<std::uint8_t>((dcd ? Ip232Dcd : 0) | (ri ? Ip232Ri : 0))};
}

Ip232Decoder::Step Ip232Decoder::Decode(const std::uint8_t* in, std::size_t in_count,
                                        std::uint8_t* out, std::size_t room) {
  Step step;
  while (step.consumed < in_count) {
    const std::uint8_t byte = in[step.consumed];
    if (escape_) {
      if (byte == Ip232Escape) {
        if (step.produced == room) break;  // the doubled FF waits for room
        out[step.produced++] = Ip232Escape;
        ++step.consumed;
        escape_ = false;
        continue;
      }
      ++step.consumed;
      escape_ = false;
      step.signal = byte;
      break;
    }
    if (byte == Ip232Escape) {
      ++step.consumed;
      escape_ = true;
      continue;
    }
    if (step.produced == room) break;
    out[step.produced++] = byte;
    ++step.consumed;
  }
  return step;
}

}  // namespace dorvane
