#include "bench/soak_plan.h"

#include <algorithm>

#include "link/wire_format.h"

namespace dorvane::bench {

namespace {

constexpr std::size_t MaxSoakFile = 65536;
constexpr int MaxStem = 12;
// Silences shorter and longer than the server's one-second byte limit: neither may
// matter, since the server waits for a transfer's next packet without a limit.
constexpr int MinSilenceMs = 50;
constexpr int MaxSilenceMs = 1500;

int BlockCount(std::size_t size) {
  return static_cast<int>((size + MaxPayloadLength - 1) / MaxPayloadLength);
}

}  // namespace

int TransferPackets(Operation op, std::size_t size) {
  return op == Operation::kLoad ? BlockCount(size) + 1 : BlockCount(size);
}

Expect ExpectedOutcome(const PlannedTransfer& transfer) {
  const peer::Fault& fault = transfer.Fault;
  switch (fault.Kind) {
    case peer::FaultKind::kAbortStatus:
    case peer::FaultKind::kAbortAttention:
      return Expect::kAborted;
    case peer::FaultKind::kCorruptHeader: {
      // Before any fault every packet the peer sends mid-transfer is a plain one: a
      // load's stOk or a save's data block.
      const std::uint8_t type = transfer.Op == Operation::kLoad ? stOk : ptData;
      const std::uint8_t mask = fault.Mask != 0 ? fault.Mask : 0x01;
      const bool becomes_attention =
          fault.Offset == 0 && static_cast<std::uint8_t>(type ^ mask) == ptAttention;
      return becomes_attention ? Expect::kEither : Expect::kComplete;
    }
    default:
      return Expect::kComplete;
  }
}

const char* FaultName(peer::FaultKind kind) {
  switch (kind) {
    case peer::FaultKind::kNone:
      return "none";
    case peer::FaultKind::kCorruptHeader:
      return "corrupt header";
    case peer::FaultKind::kCorruptPayload:
      return "corrupt payload";
    case peer::FaultKind::kDropTail:
      return "drop tail";
    case peer::FaultKind::kSilence:
      return "silence";
    case peer::FaultKind::kAbortStatus:
      return "abort (stAbort)";
    case peer::FaultKind::kAbortAttention:
      return "abort (0x10)";
  }
  return "?";
}

int SoakPlanner::Uniform(int low, int high) {
  return std::uniform_int_distribution<int>(low, high)(random_);
}

std::string SoakPlanner::FreshName(const std::vector<std::string>& taken) {
  static constexpr char Alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789-";
  constexpr int AlphabetSize = sizeof Alphabet - 1;
  for (;;) {
    std::string name;
    const int stem = Uniform(1, MaxStem);
    for (int i = 0; i < stem; ++i) name += Alphabet[Uniform(0, AlphabetSize - 1)];
    name += Uniform(0, 1) == 0 ? ".prg" : ".seq";
    if (std::find(taken.begin(), taken.end(), name) == taken.end()) return name;
  }
}

std::vector<std::uint8_t> SoakPlanner::RandomData() {
  std::size_t size = 0;
  switch (Uniform(0, 9)) {
    case 0:
      size = static_cast<std::size_t>(Uniform(0, 3));
      break;
    case 1:
    case 2: {  // a whole number of blocks, give or take a byte
      const int blocks = Uniform(1, static_cast<int>(MaxSoakFile / MaxPayloadLength));
      size = static_cast<std::size_t>(blocks * MaxPayloadLength + Uniform(-1, 1));
      break;
    }
    case 3:
    case 4:
    case 5:
      size = static_cast<std::size_t>(Uniform(1, 4 * MaxPayloadLength));
      break;
    default:
      size = static_cast<std::size_t>(Uniform(0, static_cast<int>(MaxSoakFile)));
      break;
  }
  size = std::min(size, MaxSoakFile);
  std::vector<std::uint8_t> data(size);
  for (std::uint8_t& b : data) b = static_cast<std::uint8_t>(Uniform(0, 255));
  return data;
}

peer::Fault SoakPlanner::RandomFault(const PlannedTransfer& transfer, std::size_t size) {
  peer::Fault fault;
  const int packets = TransferPackets(transfer.Op, size);
  if (packets == 0) return fault;

  std::vector<peer::FaultKind> kinds = {peer::FaultKind::kCorruptHeader, peer::FaultKind::kDropTail,
                                        peer::FaultKind::kSilence, peer::FaultKind::kAbortStatus,
                                        peer::FaultKind::kAbortAttention};
  // Only a save's blocks carry a payload; a load's replies are bare statuses.
  if (transfer.Op == Operation::kSave) kinds.push_back(peer::FaultKind::kCorruptPayload);
  fault.Kind = kinds[static_cast<std::size_t>(Uniform(0, static_cast<int>(kinds.size()) - 1))];
  fault.Skip = Uniform(0, packets - 1);
  fault.Mask = static_cast<std::uint8_t>(Uniform(1, 255));
  switch (fault.Kind) {
    case peer::FaultKind::kCorruptHeader:
      fault.Offset = Uniform(0, HeaderLength - 1);
      break;
    case peer::FaultKind::kCorruptPayload:
      fault.Offset = Uniform(0, MaxPayloadLength - 1);
      break;
    case peer::FaultKind::kDropTail:
      // A load's reply is a 3-byte status, a save's a block of up to 259 bytes; the
      // peer keeps at least one byte back from a shorter last block itself.
      fault.Keep = Uniform(
          1, transfer.Op == Operation::kLoad ? HeaderLength - 1 : HeaderLength + MaxPayloadLength);
      break;
    case peer::FaultKind::kSilence:
      fault.SilenceMs = static_cast<std::uint32_t>(Uniform(MinSilenceMs, MaxSilenceMs));
      break;
    default:
      break;
  }
  return fault;
}

PlannedTransfer SoakPlanner::Next(const FileModel& files, double fault_chance) {
  const std::vector<std::string> names = files.Names();
  PlannedTransfer transfer;
  const bool load = !names.empty() && Uniform(0, 1) == 0;
  if (load) {
    transfer.Op = Operation::kLoad;
    transfer.Name = names[static_cast<std::size_t>(Uniform(0, static_cast<int>(names.size()) - 1))];
  } else {
    transfer.Op = Operation::kSave;
    // A third of the saves replace a file, so that an aborted one has something to spoil.
    const bool replace = !names.empty() && Uniform(0, 2) == 0;
    transfer.Name =
        replace ? names[static_cast<std::size_t>(Uniform(0, static_cast<int>(names.size()) - 1))]
                : FreshName(names);
    transfer.Data = RandomData();
  }
  if (std::uniform_real_distribution<double>(0.0, 1.0)(random_) < fault_chance) {
    const Bytes* loaded = files.Find(transfer.Name);
    const std::size_t size = transfer.Op == Operation::kLoad && loaded != nullptr
                                 ? loaded->size()
                                 : transfer.Data.size();
    transfer.Fault = RandomFault(transfer, size);
  }
  return transfer;
}

}  // namespace dorvane::bench
