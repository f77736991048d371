// What the soak does next: a load or a save of a random file, now and then with one
// deliberate fault of the peer, and what the server must make of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "bench/soak_model.h"
#include "tools/peer/peer_fault.h"

namespace dorvane::bench {

enum class Operation { kLoad, kSave };

// How the transfer has to end for the server to have done right.
enum class Expect {
  kComplete,  // the fault, if any, is one the exchange recovers from
  kAborted,   // the peer gives the transfer up on purpose
  kEither,    // the fault may read as the C64 ending the transfer: either is right
};

struct PlannedTransfer {
  Operation Op = Operation::kLoad;
  std::string Name;
  std::vector<std::uint8_t> Data;  // the bytes a save sends
  peer::Fault Fault;               // Kind kNone: no fault
};

// The packets the peer sends in the middle of a transfer of `size` bytes, the only
// ones a fault can hit: a load's replies (one to the open and one per block) or a
// save's data blocks.
int TransferPackets(Operation op, std::size_t size);

// What the server must do with `transfer`. A header fault that turns the type byte
// into 0x10 ends the transfer by the rules (the C64 starting anew), so the exchange
// may fail there; every other corruption, a torn packet and a silence must be
// recovered from.
Expect ExpectedOutcome(const PlannedTransfer& transfer);

// Readable name of a fault kind ("corrupt header", ...).
const char* FaultName(peer::FaultKind kind);

class SoakPlanner {
 public:
  explicit SoakPlanner(std::uint64_t seed) : random_(seed) {}

  // A new name that no file has yet: 1 to 12 of a-z, 0-9 and '-', and ".prg" or
  // ".seq", so that the listing shows it whole and a load finds only it.
  std::string FreshName(const std::vector<std::string>& taken);
  // Random bytes, 0 to 65,536 of them, with sizes at and around block multiples
  // more likely than chance would make them.
  std::vector<std::uint8_t> RandomData();
  // A fault that fits `transfer` of `size` bytes (a payload fault only where a
  // packet has a payload), hitting one of its transfer packets; kNone when nothing
  // can be hit.
  peer::Fault RandomFault(const PlannedTransfer& transfer, std::size_t size);

  // The next transfer over the files that exist; `fault_chance` 0 to 1.
  PlannedTransfer Next(const FileModel& files, double fault_chance);

 private:
  int Uniform(int low, int high);
  std::mt19937_64 random_;
};

}  // namespace dorvane::bench
