// The bounded soak: random loads and saves against a dorvaned on a pseudo-terminal,
// some with a deliberate fault of the peer, each checked against a model of the
// served files; then a last listing and load, and the served directory compared
// with the model.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "tools/peer/peer_fault.h"

namespace dorvane::bench {

struct SoakOptions {
  std::string server_program;
  double seconds = 60;
  std::uint64_t seed = 0;
  double fault_chance = 0.5;
  // The chance that a transfer is instead a save the host refuses: past a file-size
  // limit set on the server for that save, or onto a full disk (a small tmpfs,
  // where the soak may mount one).
  double host_fault_chance = 0.1;
  bool verbose = false;  // one line per transfer
};

struct SoakTally {
  int loads = 0;
  int saves = 0;
  int completed = 0;
  int aborted = 0;  // given up on purpose, or ended by a fault that may end it
  int failed = 0;   // ended though it should have recovered
  int faults_applied = 0;
  std::map<peer::FaultKind, int> faults;  // applied, by kind
  int size_limited = 0;                   // saves past a file-size limit
  int disk_full = 0;                      // saves onto a full disk
  bool full_disk_mounted = false;
  std::vector<std::string> problems;  // every mismatch, in words
};

// Runs the soak; progress goes to `out` when verbose.
SoakTally RunSoak(const SoakOptions& options, std::FILE* out);

}  // namespace dorvane::bench
