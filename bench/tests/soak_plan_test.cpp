// The soak's plans: which packets a fault can hit, which faults fit which transfer,
// and what the server must make of each.
#include "bench/soak_plan.h"

#include <gtest/gtest.h>

#include <set>

#include "link/wire_format.h"

namespace dorvane::bench {
namespace {

using peer::FaultKind;

TEST(SoakPlanTest, TransferPacketsCountTheRepliesOfALoadAndTheBlocksOfASave) {
  struct Case {
    std::size_t size;
    int load;
    int save;
  };
  // A load of k blocks takes k + 1 stOk (the last is answered with stEndOfFile);
  // a save sends its blocks, and its closing stEndOfFile is never faulted.
  for (const Case& c : {Case{0, 1, 0}, Case{1, 2, 1}, Case{255, 2, 1}, Case{256, 3, 2},
                        Case{700, 4, 3}, Case{65535, 258, 257}, Case{65536, 259, 258}}) {
    EXPECT_EQ(TransferPackets(Operation::kLoad, c.size), c.load) << c.size;
    EXPECT_EQ(TransferPackets(Operation::kSave, c.size), c.save) << c.size;
  }
}

TEST(SoakPlanTest, ExpectedOutcomeOfEachFault) {
  struct Case {
    Operation op;
    FaultKind kind;
    int offset;
    std::uint8_t mask;
    Expect expect;
  };
  const Case cases[] = {
      {Operation::kLoad, FaultKind::kNone, 0, 1, Expect::kComplete},
      {Operation::kSave, FaultKind::kDropTail, 0, 1, Expect::kComplete},
      {Operation::kSave, FaultKind::kSilence, 0, 1, Expect::kComplete},
      {Operation::kSave, FaultKind::kCorruptPayload, 0, 0x10, Expect::kComplete},
      {Operation::kLoad, FaultKind::kAbortStatus, 0, 1, Expect::kAborted},
      {Operation::kSave, FaultKind::kAbortAttention, 0, 1, Expect::kAborted},
      // The type byte of a save's block (0x00) or a load's stOk (0x80) turned into
      // 0x10 reads as the C64 starting anew, which ends the transfer by the rules.
      {Operation::kSave, FaultKind::kCorruptHeader, 0, 0x10, Expect::kEither},
      {Operation::kLoad, FaultKind::kCorruptHeader, 0, 0x90, Expect::kEither},
      {Operation::kLoad, FaultKind::kCorruptHeader, 0, 0x10, Expect::kComplete},
      {Operation::kSave, FaultKind::kCorruptHeader, 1, 0x10, Expect::kComplete},
      {Operation::kLoad, FaultKind::kCorruptHeader, 2, 0x90, Expect::kComplete},
  };
  for (const Case& c : cases) {
    PlannedTransfer transfer;
    transfer.Op = c.op;
    transfer.Fault.Kind = c.kind;
    transfer.Fault.Offset = c.offset;
    transfer.Fault.Mask = c.mask;
    EXPECT_EQ(ExpectedOutcome(transfer), c.expect)
        << FaultName(c.kind) << " offset " << c.offset << " mask " << int{c.mask};
  }
}

TEST(SoakPlanTest, RandomFaultsHitAPacketTheTransferHas) {
  SoakPlanner planner(7);
  std::set<FaultKind> load_kinds;
  std::set<FaultKind> save_kinds;
  for (int i = 0; i < 2000; ++i) {
    PlannedTransfer transfer;
    transfer.Op = i % 2 == 0 ? Operation::kLoad : Operation::kSave;
    const std::size_t size = static_cast<std::size_t>(i % 5) * 200;
    const peer::Fault fault = planner.RandomFault(transfer, size);
    const int packets = TransferPackets(transfer.Op, size);
    if (packets == 0) {
      // An empty save has no block to hit: an armed fault would hit the next request.
      EXPECT_EQ(fault.Kind, FaultKind::kNone);
      continue;
    }
    ASSERT_NE(fault.Kind, FaultKind::kNone);
    EXPECT_GE(fault.Skip, 0);
    EXPECT_LT(fault.Skip, packets);
    EXPECT_NE(fault.Mask, 0);
    if (fault.Kind == FaultKind::kCorruptHeader) {
      EXPECT_GE(fault.Offset, 0);
      EXPECT_LT(fault.Offset, HeaderLength);
    }
    if (fault.Kind == FaultKind::kDropTail && transfer.Op == Operation::kLoad) {
      EXPECT_LT(fault.Keep, HeaderLength);  // a load's replies are 3-byte statuses
    }
    (transfer.Op == Operation::kLoad ? load_kinds : save_kinds).insert(fault.Kind);
  }
  // A load's replies carry no payload to corrupt; every other kind is used.
  EXPECT_EQ(load_kinds.count(FaultKind::kCorruptPayload), 0u);
  EXPECT_EQ(load_kinds.size(), 5u);
  EXPECT_EQ(save_kinds.size(), 6u);
}

TEST(SoakPlanTest, FreshNamesAreNewAndShownWholeInTheListing) {
  SoakPlanner planner(11);
  std::vector<std::string> taken = {"a.prg", "b.prg"};
  for (int i = 0; i < 500; ++i) {
    const std::string name = planner.FreshName(taken);
    EXPECT_EQ(std::count(taken.begin(), taken.end(), name), 0) << name;
    // Up to 16 characters are listed as they are; no wildcard, no dot file.
    EXPECT_LE(name.size(), 16u) << name;
    EXPECT_NE(name.front(), '.') << name;
    EXPECT_EQ(name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-."), std::string::npos)
        << name;
    taken.push_back(name);
  }
}

TEST(SoakPlanTest, LoadsNameKnownFilesAndSavesAreBounded) {
  SoakPlanner planner(3);
  FileModel files;
  int loads = 0;
  for (int i = 0; i < 300; ++i) {
    const PlannedTransfer transfer = planner.Next(files, 0.5);
    if (transfer.Op == Operation::kLoad) {
      ++loads;
      EXPECT_NE(files.Find(transfer.Name), nullptr) << transfer.Name;
    } else {
      EXPECT_LE(transfer.Data.size(), 65536u);
      files.Put(transfer.Name, transfer.Data);
    }
  }
  EXPECT_GT(loads, 0);
}

}  // namespace
}  // namespace dorvane::bench
