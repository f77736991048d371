// dorvane-bench: how fast dorvaned answers and moves data, over pseudo-terminals
// and loopback TCP, with the C64's side played by the peer library. Each figure is printed as
// "name: value", with its target where it has one.
#include <unistd.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "bench/measurements.h"
#include "bench/server_process.h"

namespace {

using dorvane::bench::BenchSetup;

constexpr const char* Usage =
    "Usage: dorvane-bench [--quick] [--scale [N]] [--server PATH] [--window PATH]\n"
    "Measures dorvaned over pseudo-terminals and loopback TCP: the turnaround after\n"
    "each stOk of a load, load and save throughput unthrottled and over a 115200-baud\n"
    "cable, the system calls and processor time per block, the idle processor share,\n"
    "the time to list a directory of 2,046 files, the same for a disk image (a paced\n"
    "load from a D81, and stepping into it and listing its 296 files), the window's\n"
    "turnaround and idle share, and the answer times of a listing and of loads in\n"
    "directories of 1,000 to 100,000 files.\n"
    "\n"
    "  --quick         smaller transfers and a shorter idle spell, no large directories\n"
    "  --scale [N]     only the directories of 1,000 to 1,000,000 files, or only the one\n"
    "                  of N files\n"
    "  --server PATH   the dorvaned to measure (default: the one beside this program)\n"
    "  --window PATH   the window program to measure (default: the one beside this\n"
    "                  program, if there is one; --window none leaves it out)\n";

bool failed_any = false;

void Figure(const char* name, double value, int decimals) {
  std::printf("%s: %.*f\n", name, decimals, value);
}

// `below`: the target is a ceiling; otherwise a floor. `at_most`: the ceiling
// itself still meets it.
void Target(const char* name, double value, int decimals, double target, bool below,
            bool at_most = false) {
  const bool met = below ? (at_most ? value <= target : value < target) : value >= target;
  // Cut, not rounded, to the decimals shown: the targets are round numbers, so the
  // figure shown then always falls on the same side of its target as the verdict
  // (98.996 shows as 98.99, not as 99.00 next to "MISSED").
  const double scale = std::pow(10.0, decimals);
  value = std::floor(value * scale + 1e-6) / scale;  // 1.6 is 1.5999... in binary
  std::printf("%s: %.*f (target %s %g: %s)\n", name, decimals, value,
              below ? (at_most ? "<=" : "<") : ">=", target, met ? "met" : "MISSED");
}

// `judged`: the figures are dorvaned's and its target applies.
void Paced(const std::string& prefix, const dorvane::bench::PacedFigures& paced, bool judged) {
  const auto name = [&](const char* what) { return prefix + what; };
  Figure(name("_bytes_per_s").c_str(), paced.bytes_per_second, 0);
  const double percent = paced.bytes_per_second / dorvane::bench::CeilingBytesPerSecond * 100;
  if (judged) {
    Target(name("_percent_of_ceiling").c_str(), percent, 2, 99, false);
  } else {
    Figure(name("_percent_of_ceiling").c_str(), percent, 2);
  }
  Figure(name("_block_overhead_us").c_str(), paced.block_overhead_us, 1);
  Figure(name("_server_answer_us").c_str(), paced.server_answer_us, 1);
  Figure(name("_peer_answer_us").c_str(), paced.peer_answer_us, 1);
  Figure(name("_relay_late_us").c_str(), paced.relay_late_us, 1);
  Figure(name("_relay_late_p99_us").c_str(), paced.relay_late_p99_us, 1);
  std::printf("%s_slow_blocks: %zu of %zu (%.0f%% of the time lost)\n", prefix.c_str(),
              paced.slow_blocks, paced.blocks, paced.slow_share_of_loss * 100);
  std::printf("%s_relay_realtime: %s\n", prefix.c_str(), paced.relay_realtime ? "yes" : "no");
}

// Every figure depends on the processor being free when the server wants it; the
// machine's load over the last minute says how far that was so.
void LoadAverage(const char* name) {
  double one_minute = -1;
  if (std::FILE* in = std::fopen("/proc/loadavg", "r")) {
    if (std::fscanf(in, "%lf", &one_minute) != 1) one_minute = -1;
    std::fclose(in);
  }
  std::printf("%s: %.2f (cores: %ld)\n", name, one_minute, ::sysconf(_SC_NPROCESSORS_ONLN));
}

// Runs one measurement; a failure is reported and the others still run.
template <typename Measure>
void Run(const char* what, Measure measure) {
  std::fflush(stdout);
  try {
    measure();
  } catch (const std::exception& error) {
    std::printf("%s: failed: %s\n", what, error.what());
    failed_any = true;
  }
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  BenchSetup setup;
  setup.server_program = dorvane::bench::DefaultServerProgram();
  setup.window_program = dorvane::bench::DefaultWindowProgram();
  if (::access(setup.window_program.c_str(), X_OK) != 0) setup.window_program.clear();
  bool quick = false;
  bool scale_only = false;
  int scale_entries = 0;  // 0: every size
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--quick") == 0) {
      quick = true;
    } else if (std::strcmp(argv[i], "--scale") == 0) {
      scale_only = true;
      if (i + 1 < argc && std::isdigit(static_cast<unsigned char>(argv[i + 1][0]))) {
        scale_entries = std::atoi(argv[++i]);
        if (scale_entries <= 0) {
          std::fprintf(stderr, "dorvane-bench: --scale %s: not a number of files\n", argv[i]);
          return 2;
        }
      }
    } else if (std::strcmp(argv[i], "--server") == 0 && i + 1 < argc) {
      setup.server_program = argv[++i];
    } else if (std::strcmp(argv[i], "--window") == 0 && i + 1 < argc) {
      setup.window_program = argv[++i];
      if (setup.window_program == "none") setup.window_program.clear();
    } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(Usage, stdout);
      return 0;
    } else {
      std::fprintf(stderr, "dorvane-bench: unknown argument: %s\n%s", argv[i], Usage);
      return 2;
    }
  }
  if (quick) {
    setup.unthrottled_size = 256 << 10;
    setup.paced_size = 32 << 10;
    setup.idle_seconds = 2.0;
    setup.listing_runs = 2;
  }
  std::printf("server: %s\n", setup.server_program.c_str());
  LoadAverage("load_average_before");
  std::printf("unthrottled_bytes: %zu\npaced_bytes: %zu\n", setup.unthrottled_size,
              setup.paced_size);

  using namespace dorvane::bench;
  if (!scale_only) {
    Run("load", [&] {
      const LoadFigures load = MeasureLoad(setup);
      std::printf("turnaround_samples: %zu\n", load.turnaround_samples);
      Target("turnaround_median_us", load.turnaround_median_us, 1, 200, true);
      Target("turnaround_p99_us", load.turnaround_p99_us, 1, 1000, true);
      Figure("load_bytes_per_s", load.bytes_per_second, 0);
      Target("load_cpu_us_per_block", load.cost.cpu_us_per_block, 1, 50, true);
      Figure("load_rw_syscalls_per_block", load.cost.rw_syscalls_per_block, 2);
    });
    // The same load over loopback TCP, as an emulator connects to --listen; its
    // turnaround stands beside the pseudo-terminal's above.
    Run("tcp_load", [&] {
      const LoadFigures load = MeasureLoadOverTcp(setup);
      std::printf("tcp_turnaround_samples: %zu\n", load.turnaround_samples);
      Target("tcp_turnaround_median_us", load.turnaround_median_us, 1, 100, true);
      Figure("tcp_turnaround_p99_us", load.turnaround_p99_us, 1);
      Figure("tcp_load_bytes_per_s", load.bytes_per_second, 0);
    });
    Run("save", [&] {
      const SaveFigures save = MeasureSave(setup);
      Figure("save_bytes_per_s", save.bytes_per_second, 0);
      Target("save_cpu_us_per_block", save.cost.cpu_us_per_block, 1, 50, true);
      Figure("save_rw_syscalls_per_block", save.cost.rw_syscalls_per_block, 2);
    });
    Run("syscalls", [&] {
      const SyscallFigures calls = MeasureSyscalls(setup);
      Target("load_syscalls_per_block", calls.load_per_block, 2, 8, true, true);
      Target("save_syscalls_per_block", calls.save_per_block, 2, 8, true, true);
    });
    Figure("paced_ceiling_bytes_per_s", CeilingBytesPerSecond, 0);
    Run("paced_load", [&] { Paced("paced_load", MeasurePacedLoad(setup), true); });
    Run("paced_save", [&] { Paced("paced_save", MeasurePacedSave(setup), true); });
    Run("paced_image_load", [&] { Paced("paced_image_load", MeasurePacedImageLoad(setup), true); });
    // Not dorvaned: a server that answers at once, so that the loss the pseudo-
    // terminals, the relay and the C64 side cause by themselves can be told apart.
    Run("yardstick_load",
        [&] { Paced("yardstick_load", MeasurePacedLoadYardstick(setup), false); });
    Run("idle", [&] {
      Figure("idle_seconds", setup.idle_seconds, 1);
      const IdleFigures idle = MeasureIdleCpu(setup);
      Target("idle_cpu_percent", idle.ticks_percent, 2, 1, true);
      Figure("idle_cpu_percent_exact", idle.exact_percent, 3);
    });
    Run("tcp_idle", [&] {
      const IdleFigures idle = MeasureIdleCpuListening(setup);
      Target("tcp_idle_cpu_percent", idle.ticks_percent, 2, 0.5, true);
      Figure("tcp_idle_cpu_percent_exact", idle.exact_percent, 3);
    });
    Run("listing", [&] {
      const ListingFigures listing = MeasureListing(setup);
      std::printf("listing_entries: %zu\n", listing.entries);
      Target("listing_answer_ms", listing.answer_ms, 2, 20, true);
      Figure("listing_transfer_ms", listing.transfer_ms, 2);
    });
    Run("image_listing", [&] {
      const ImageListingFigures image = MeasureImageListing(setup);
      std::printf("image_listing_entries: %zu\n", image.entries);
      Target("image_enter_answer_ms", image.enter_answer_ms, 2, 5, true);
      Target("image_listing_answer_ms", image.listing_answer_ms, 2, 5, true);
      Target("image_enter_and_listing_ms", image.enter_answer_ms + image.listing_answer_ms, 2, 5,
             true);
    });
    if (!setup.window_program.empty()) {
      std::printf("window: %s\n", setup.window_program.c_str());
      Run("window_load", [&] {
        const LoadFigures load = MeasureLoad(setup, true);
        Figure("window_turnaround_median_us", load.turnaround_median_us, 1);
        Figure("window_turnaround_p99_us", load.turnaround_p99_us, 1);
        Figure("window_load_bytes_per_s", load.bytes_per_second, 0);
        Figure("window_load_cpu_us_per_block", load.cost.cpu_us_per_block, 1);
      });
      Run("window_idle", [&] {
        const IdleFigures idle = MeasureIdleCpu(setup, true);
        Target("window_idle_cpu_percent_exact", idle.exact_percent, 3, 0.3, true);
      });
    }
  }
  // Directories of every size: a request by an exact name must not cost more in a
  // large one, "$" looks at no more entries than it lists, and a change by another
  // program costs what it changes. Filling them takes a while: a quick run leaves
  // them out, and only --scale goes to a million, where the disk has room for it.
  std::vector<int> sizes = {1000, 10000, 100000, 1000000};
  if (scale_entries > 0) sizes = {scale_entries};
  for (const int entries : sizes) {
    if (quick && !scale_only) break;
    if (entries >= 1000000 && !scale_only) break;
    if (entries >= 1000000 && !RoomForFiles(entries)) {
      std::printf("scale_%d: left out: the disk has no room for the files\n", entries);
      break;
    }
    for (const bool long_names : {false, true}) {
      const std::string label =
          "scale_" + std::to_string(entries) + (long_names ? "_long" : "_short");
      Run(label.c_str(), [&] {
        const ScaleFigures scale = MeasureScale(setup, entries, long_names);
        const bool million = entries >= 1000000;
        const double listing_target = entries <= 10000 ? 10 : 50;
        // The first listing of a directory never read before is bound by the kernel's
        // own reading of it, shown beside it; the target is for the listings after it,
        // which a watch keeps from reading the directory again.
        Figure((label + "_first_listing_ms").c_str(), scale.first_listing_ms, 2);
        Figure((label + "_readdir_ms").c_str(), scale.readdir_ms, 2);
        Target((label + "_listing_ms").c_str(), scale.listing_ms, 2, listing_target, true);
        Figure((label + "_listed_stat_ms").c_str(), scale.listed_stat_ms, 2);
        Target((label + "_exact_load_ms").c_str(), scale.exact_load_ms, 2, 1, true);
        if (long_names) {
          Figure((label + "_alternate_load_ms").c_str(), scale.alternate_load_ms, 2);
          Figure((label + "_added_1_alternate_load_ms").c_str(), scale.added_1_alternate_load_ms,
                 2);
        }
        Target((label + "_new_name_save_ms").c_str(), scale.new_name_save_ms, 2, 1, true);
        Figure((label + "_added_1_listing_ms").c_str(), scale.added_1_listing_ms, 2);
        Target((label + "_added_1000_listing_ms").c_str(), scale.added_1000_listing_ms, 2,
               million ? 100 : 20, true);
        // Long names hold more bytes than the target allows for the whole server (some
        // 24 MB in a million): their peak is shown beside the names' own bytes.
        if (long_names) {
          Figure((label + "_peak_memory_mb").c_str(), scale.peak_memory_mb, 1);
        } else {
          Target((label + "_peak_memory_mb").c_str(), scale.peak_memory_mb, 1, million ? 24 : 16,
                 true);
        }
        Figure((label + "_names_mb").c_str(), scale.names_mb, 1);
      });
    }
  }
  LoadAverage("load_average_after");
  return failed_any ? 1 : 0;
}
