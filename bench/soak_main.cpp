// dorvane-soak: loads and saves of random files against dorvaned while the peer
// misbehaves on purpose; exits non-zero when any file, load or save came out wrong
// or the server stopped answering.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <random>
#include <string>

#include "bench/server_process.h"
#include "bench/soak_plan.h"
#include "bench/soak_runner.h"

namespace {

constexpr const char* Usage =
    "Usage: dorvane-soak [--seconds N] [--seed N] [--faults P] [--server PATH] [--verbose]\n"
    "Loads and saves random files against dorvaned on a pseudo-terminal while the C64's\n"
    "side corrupts, tears, delays and aborts packets, and checks every file afterwards.\n"
    "\n"
    "  --seconds N     how long to start new transfers (default 60)\n"
    "  --seed N        the random seed, to repeat a run (default: a fresh one)\n"
    "  --faults P      the chance of a fault in a transfer, 0 to 1 (default 0.5)\n"
    "  --server PATH   the dorvaned to soak (default: the one beside this program)\n"
    "  --verbose       one line per transfer\n";

bool ParseNumber(const char* text, double& value) {
  char* end = nullptr;
  value = std::strtod(text, &end);
  return end != text && *end == '\0';
}

}  // namespace

int main(int argc, char** argv) {
  dorvane::bench::SoakOptions options;
  options.server_program = dorvane::bench::DefaultServerProgram();
  options.seed = std::random_device{}();
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    double number = 0;
    if (arg == "--seconds" && has_value && ParseNumber(argv[i + 1], number) && number >= 0) {
      options.seconds = number;
      ++i;
    } else if (arg == "--seed" && has_value) {
      options.seed = std::strtoull(argv[++i], nullptr, 10);
    } else if (arg == "--faults" && has_value && ParseNumber(argv[i + 1], number) && number >= 0 &&
               number <= 1) {
      options.fault_chance = number;
      ++i;
    } else if (arg == "--server" && has_value) {
      options.server_program = argv[++i];
    } else if (arg == "--verbose") {
      options.verbose = true;
    } else if (arg == "--help" || arg == "-h") {
      std::fputs(Usage, stdout);
      return 0;
    } else {
      std::fprintf(stderr, "dorvane-soak: bad argument: %s\n%s", arg.c_str(), Usage);
      return 2;
    }
  }

  std::printf("seed: %llu\nseconds: %g\n", static_cast<unsigned long long>(options.seed),
              options.seconds);
  std::fflush(stdout);
  dorvane::bench::SoakTally tally;
  try {
    tally = dorvane::bench::RunSoak(options, stdout);
  } catch (const std::exception& error) {
    std::printf("soak could not run: %s\n", error.what());
    return 1;
  }

  std::printf("transfers: %d (loads %d, saves %d)\n", tally.loads + tally.saves, tally.loads,
              tally.saves);
  std::printf("completed: %d\naborted: %d\nfailed: %d\n", tally.completed, tally.aborted,
              tally.failed);
  std::printf("faults: %d\n", tally.faults_applied);
  for (const auto& [kind, count] : tally.faults) {
    std::printf("  %s: %d\n", dorvane::bench::FaultName(kind), count);
  }
  std::printf("host faults: %d (past a file-size limit %d, onto a full disk %d%s)\n",
              tally.size_limited + tally.disk_full, tally.size_limited, tally.disk_full,
              tally.full_disk_mounted ? "" : ", no tmpfs could be mounted");
  std::printf("problems: %zu\n", tally.problems.size());
  for (const std::string& problem : tally.problems) std::printf("  %s\n", problem.c_str());
  std::printf("result: %s\n", tally.problems.empty() ? "clean" : "FAILED");
  return tally.problems.empty() ? 0 : 1;
}
