// The benchmark's measurements, each against a dorvaned of its own in a fresh
// temporary directory. Every function throws std::runtime_error when a transfer
// fails or brings wrong bytes: a figure from a broken exchange would mean nothing.
#pragma once

#include <cstddef>
#include <string>

#include "bench/bench_clock.h"

namespace dorvane::bench {

// One byte of 8N1 at 115200 baud, and the protocol's best at that rate: 255 payload
// bytes for every 262 bytes on the wire (a full block of 259 and the C64's stOk).
inline constexpr double WireBytesPerSecond = 115200.0 / 10.0;
inline constexpr double CeilingBytesPerSecond = WireBytesPerSecond * 255.0 / 262.0;

// What the server spent on each block of a transfer: its processor time, and its
// reads and writes (syscr + syscw: poll and the like are not in it).
struct BlockCost {
  std::size_t blocks = 0;
  double cpu_us_per_block = 0;
  double rw_syscalls_per_block = 0;
};

struct LoadFigures {
  double turnaround_median_us = 0;
  double turnaround_p99_us = 0;
  std::size_t turnaround_samples = 0;
  double bytes_per_second = 0;
  BlockCost cost;
};

struct SaveFigures {
  double bytes_per_second = 0;
  BlockCost cost;
};

// Every system call the server made per block, counted by strace: it slows the
// server down, so these transfers are not the ones timed.
struct SyscallFigures {
  double load_per_block = 0;
  double save_per_block = 0;
};

// A transfer through the paced cable, and where the time between blocks went.
struct PacedFigures {
  double bytes_per_second = 0;
  // How much longer a block took than its 262 bytes on the wire (median).
  double block_overhead_us = 0;
  // Medians of the two sides' turnarounds as the relay saw them, and of how late
  // the relay delivered a packet's last byte.
  double server_answer_us = 0;
  double peer_answer_us = 0;
  double relay_late_us = 0;
  double relay_late_p99_us = 0;
  // Blocks that took over a millisecond longer than the wire needs: waits for the
  // processor, not work. Their share of the time lost tells noise from cost.
  std::size_t blocks = 0;
  std::size_t slow_blocks = 0;
  double slow_share_of_loss = 0;  // 0 to 1
  bool relay_realtime = false;
};

struct ListingFigures {
  double answer_ms = 0;    // request sent to the server's stOk
  double transfer_ms = 0;  // request sent to the listing's stEndOfFile
  std::size_t entries = 0;
};

struct BenchSetup {
  std::string server_program;
  std::string window_program;  // the window's cases: empty leaves them out
  std::size_t unthrottled_size = 1 << 20;
  std::size_t paced_size = 128 << 10;
  double idle_seconds = 5.0;
  int listing_runs = 5;
};

// A load of `unthrottled_size` bytes over a direct pseudo-terminal: the turnaround
// after each stOk, the throughput and the server's cost per block. `window`: served
// by the window program instead of dorvaned.
LoadFigures MeasureLoad(const BenchSetup& setup, bool window = false);
// The same load over a loopback TCP connection to `dorvaned --listen`.
LoadFigures MeasureLoadOverTcp(const BenchSetup& setup);
// A save of `unthrottled_size` bytes over a direct pseudo-terminal.
SaveFigures MeasureSave(const BenchSetup& setup);
// A load and a save of 64 KiB each under strace. Throws when strace cannot attach.
SyscallFigures MeasureSyscalls(const BenchSetup& setup);
// A load, or a save, of `paced_size` bytes through a cable at 115200 baud.
PacedFigures MeasurePacedLoad(const BenchSetup& setup);
// The same load from an InstantLoadServer: what the measuring costs by itself.
PacedFigures MeasurePacedLoadYardstick(const BenchSetup& setup);
PacedFigures MeasurePacedSave(const BenchSetup& setup);
// The server's processor time over `idle_seconds` without requests, in per cent of
// one core: from utime + stime, and exactly from the scheduler's own count.
struct IdleFigures {
  double ticks_percent = 0;
  double exact_percent = 0;
};
IdleFigures MeasureIdleCpu(const BenchSetup& setup, bool window = false);
// The same for `dorvaned --listen` with no one connected.
IdleFigures MeasureIdleCpuListening(const BenchSetup& setup);
// "$" in a directory of 2,046 files, the medians over `listing_runs` requests.
ListingFigures MeasureListing(const BenchSetup& setup);

// A D81 image whose directory is full (296 entries): the answers to stepping into it
// and to "$" inside it, the medians over `listing_runs` rounds.
struct ImageListingFigures {
  double enter_answer_ms = 0;    // "c:" sent to its stOk
  double listing_answer_ms = 0;  // "$" sent to its stOk
  std::size_t entries = 0;
};
ImageListingFigures MeasureImageListing(const BenchSetup& setup);
// A load of `paced_size` bytes from inside that image, through a cable at 115200 baud.
PacedFigures MeasurePacedImageLoad(const BenchSetup& setup);

// Answer times (request sent to the server's first answer, best of the runs) in a
// directory of `entries` files, half of them with long names when `long_names`.
struct ScaleFigures {
  double first_listing_ms = 0;  // the first "$", of a directory just filled and never read
  double readdir_ms = 0;        // the kernel's own reading of that directory, for comparison
  double listing_ms = 0;        // "$", best of three
  // The kernel's own stat() of each name that "$" shows, best of three: the floor
  // under any listing, which must tell each entry's size.
  double listed_stat_ms = 0;
  double exact_load_ms = 0;      // a load by an exact name
  double alternate_load_ms = 0;  // a load by an 8.3 alternate name (long names only)
  double new_name_save_ms = 0;   // a save under a name the directory does not hold yet
  // "$" right after another program added 1, and 1,000, files that list first: best
  // of three rounds, each adding new ones.
  double added_1_listing_ms = 0;
  double added_1000_listing_ms = 0;
  // A load by an alternate name right after another program added a file (long names
  // only): best of three rounds.
  double added_1_alternate_load_ms = 0;
  double peak_memory_mb = 0;  // the server's peak resident memory (VmHWM); 0 when unknown
  double names_mb = 0;        // the bytes of the directory's names alone
};
ScaleFigures MeasureScale(const BenchSetup& setup, int entries, bool long_names);
// Whether the temporary directory's file system has room for `entries` more files
// and their directory, with some to spare.
bool RoomForFiles(int entries);

}  // namespace dorvane::bench
