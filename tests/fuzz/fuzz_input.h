// How one fuzzer input is laid out, shared by the fuzzer and the program that writes
// its seeds.
//
// The first byte holds options. The rest is a list of records, each opened by one
// head byte:
//   0x00-0xDF  the next head + 1 bytes go on the line, as the C64 sends them
//   0xE0-0xEF  the C64 falls silent for SilenceMs[head - 0xE0] before its next byte
//   0xF0-0xFF  once the C64 has sent everything before this record, the port takes
//              nothing for the next StallAttempts[head - 0xF0] write attempts (the
//              C64 holds CTS off), 2 ms of fake time each
// The durations cluster around the one-second limit, where the link's time-outs trip.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace dorvane::fuzzing {

inline constexpr std::uint8_t OptionDeleteProtection = 0x01;
// The fake clock starts shortly before its 32-bit tick count wraps, so the time
// limits are measured across the wrap.
inline constexpr std::uint8_t OptionClockNearWrap = 0x02;
inline constexpr std::uint32_t NearWrapStartTick = 0xFFFFFFFFu - 1200;

inline constexpr std::uint8_t FirstSilenceRecord = 0xE0;
inline constexpr std::uint8_t FirstStallRecord = 0xF0;
inline constexpr std::size_t MaxDataRecord = FirstSilenceRecord;  // bytes in one data record

inline constexpr std::array<std::uint32_t, 16> SilenceMs = {
    1, 2, 3, 50, 500, 998, 999, 1000, 1001, 1002, 1003, 1004, 1500, 2000, 2500, 4000};
inline constexpr std::array<int, 16> StallAttempts = {1,   2,   10,  100, 250,  498,  499,  500,
                                                      501, 502, 503, 600, 1000, 1500, 2000, 3000};

// The head byte of a silence or stall record of (at least) the given length.
constexpr std::uint8_t SilenceRecord(std::uint32_t ms) {
  std::size_t i = 0;
  while (i + 1 < SilenceMs.size() && SilenceMs[i] < ms) ++i;
  return static_cast<std::uint8_t>(FirstSilenceRecord + i);
}
constexpr std::uint8_t StallRecord(int attempts) {
  std::size_t i = 0;
  while (i + 1 < StallAttempts.size() && StallAttempts[i] < attempts) ++i;
  return static_cast<std::uint8_t>(FirstStallRecord + i);
}

}  // namespace dorvane::fuzzing
