// What travels on the cable between the server and the C64. Both sides use this file.
//
// Every request opens with the single attention byte 0x10; the server echoes its
// bitwise complement. After that everything is a packet:
//
//   offset 0      type         packet type or status code
//   offset 1      length       n, 0 to 255
//   offset 2      header CRC   CRC-8 of the type and length bytes
//   offset 3      payload      n bytes, only when n > 0
//   offset 3 + n  payload CRC  CRC-8 of the payload, only when n > 0
//
// A status is an empty packet whose type byte is the status code, so it is three
// bytes long. There are no start markers, no escapes and no sequence numbers:
// the length alone frames a packet, and each side answers every packet with a status.
#pragma once

#include <array>
#include <cstdint>

namespace dorvane {

using PacketType = std::uint8_t;

// Packet types that open a request or carry data.
inline constexpr PacketType ptData = 0x00;
inline constexpr PacketType ptLoad = 0x01;
inline constexpr PacketType ptSave = 0x02;
inline constexpr PacketType ptCommand = 0x03;
inline constexpr PacketType ptAttention = 0x10;  // sent alone, never as a packet

// Status codes, sent as the type of an empty packet.
inline constexpr std::uint8_t stOk = 0x80;
inline constexpr std::uint8_t stEndOfFile = 0x81;
inline constexpr std::uint8_t stRepeat = 0x82;
inline constexpr std::uint8_t stOpenError = 0x83;
inline constexpr std::uint8_t stDeleteError = 0x84;
inline constexpr std::uint8_t stRenameError = 0x85;
inline constexpr std::uint8_t stAbort = 0x89;
inline constexpr std::uint8_t stError = 0xFF;

inline constexpr int MaxPayloadLength = 255;
inline constexpr int HeaderLength = 3;
inline constexpr int MaxPacketLength = HeaderLength + MaxPayloadLength + 1;

// The answer the server gives to the attention byte.
constexpr std::uint8_t AttentionEcho(std::uint8_t attention) {
  return static_cast<std::uint8_t>(~attention);
}

struct Packet {
  std::uint8_t HeaderCrc = 0;
  PacketType Type = 0;
  std::uint8_t Length = 0;
  std::uint8_t PayloadCrc = 0;
  // Payload bytes 0 to Length - 1; in a received packet byte Length holds the
  // payload's CRC byte as it came off the line.
  std::array<std::uint8_t, 256> Payload{};
  // Set by ReceivePacket when the header fails its CRC; the payload is then unread.
  bool HeaderCrcError = false;
  // Set by ReceivePacket when a payload arrived whole but fails its CRC. The packet is
  // still delivered; each state decides what a damaged payload means to it.
  bool PayloadCrcError = false;
};

// "stOk", "stRepeat", ... for a status code; nullptr for any other byte.
const char* StatusName(std::uint8_t code);

}  // namespace dorvane
