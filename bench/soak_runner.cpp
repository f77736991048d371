#include "bench/soak_runner.h"

#include <chrono>
#include <optional>
#include <stdexcept>
#include <thread>

#include "bench/served_peer.h"
#include "bench/soak_model.h"
#include "bench/soak_plan.h"
#include "bench/temp_dir.h"
#include "link/wire_format.h"
#include "service/listing.h"
#include "tools/peer/listing_decoder.h"

namespace dorvane::bench {

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// The server commits a save at the peer's closing stEndOfFile, which it does not
// answer; the file is waited for this long.
constexpr std::chrono::seconds CommitPatience{5};

// Waits until `path` holds `expected`; the last difference when it never does.
std::string AwaitContent(const fs::path& path, const Bytes& expected) {
  const auto deadline = Clock::now() + CommitPatience;
  for (;;) {
    const std::string difference = DescribeDifference(expected, ReadWholeFile(path));
    if (difference.empty() || Clock::now() >= deadline) return difference;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

// The target of a save that did not complete must be as it was: the old bytes, or
// no file at all.
std::string UntouchedDifference(const fs::path& path, const std::optional<Bytes>& before) {
  if (before) return DescribeDifference(*before, ReadWholeFile(path));
  return fs::exists(path) ? "it exists, though no save of it completed" : "";
}

std::string Describe(const PlannedTransfer& transfer, std::size_t size) {
  std::string text = (transfer.Op == Operation::kLoad ? "load " : "save ") + transfer.Name + " (" +
                     std::to_string(size) + " bytes";
  if (transfer.Fault.Kind != peer::FaultKind::kNone) {
    text += ", " + std::string(FaultName(transfer.Fault.Kind)) + " after " +
            std::to_string(transfer.Fault.Skip) + " packets";
  }
  return text + ")";
}

class Soak {
 public:
  Soak(const SoakOptions& options, std::FILE* out)
      : options_(options), out_(out), scene_("dorvane-soak-"), planner_(options.seed) {
    fs::create_directory(Root());
  }

  SoakTally Run() {
    ServedPeerOptions served;
    served.server_program = options_.server_program;
    served.root = Root();
    served.log_path = scene_.Path() / "server.log";
    ServedPeer rig(served);

    const auto deadline = Clock::now() + std::chrono::duration<double>(options_.seconds);
    while (Clock::now() < deadline) One(rig.Peer());
    Finish(rig);
    if (!tally_.problems.empty()) {
      tally_.problems.push_back("the server's log ends:\n" + LogTail(rig.Server().Log()));
    }
    const std::optional<int> status = rig.Server().Stop(std::chrono::seconds(5));
    if (status != 0) tally_.problems.push_back("dorvaned did not end cleanly on SIGTERM");
    return tally_;
  }

 private:
  fs::path Root() const { return scene_.Path() / "root"; }

  void Problem(const PlannedTransfer& transfer, std::size_t size, const std::string& what) {
    tally_.problems.push_back(Describe(transfer, size) + ": " + what);
  }

  void One(peer::C64Peer& peer) {
    const PlannedTransfer transfer = planner_.Next(model_, options_.fault_chance);
    const Bytes* known = model_.Find(transfer.Name);
    const std::optional<Bytes> before = known ? std::optional<Bytes>(*known) : std::nullopt;
    const std::size_t size =
        transfer.Op == Operation::kLoad ? before->size() : transfer.Data.size();

    const std::uint64_t applied_before = peer.Stats().FaultsApplied;
    if (transfer.Fault.Kind != peer::FaultKind::kNone) peer.InjectFault(transfer.Fault);
    peer::LoadResult loaded;
    peer::PeerResult result;
    if (transfer.Op == Operation::kLoad) {
      ++tally_.loads;
      loaded = peer.Load(transfer.Name);
      result = loaded;
    } else {
      ++tally_.saves;
      result = peer.Save(transfer.Name, transfer.Data);
    }
    const bool applied = peer.Stats().FaultsApplied > applied_before;
    if (peer.FaultPending()) peer.InjectFault(peer::Fault{});  // it never had its packet
    if (applied) {
      ++tally_.faults_applied;
      ++tally_.faults[transfer.Fault.Kind];
    }
    const Expect expect = applied ? ExpectedOutcome(transfer) : Expect::kComplete;
    if (options_.verbose) {
      std::fprintf(out_, "%s: %s\n", Describe(transfer, size).c_str(),
                   result.Succeeded ? "done" : result.Describe().c_str());
    }

    const fs::path path = Root() / transfer.Name;
    if (result.Succeeded) {
      ++tally_.completed;
      if (expect == Expect::kAborted) Problem(transfer, size, "completed though it was aborted");
      if (transfer.Op == Operation::kLoad) {
        const std::string difference = DescribeDifference(*before, loaded.Data);
        if (!difference.empty()) Problem(transfer, size, "the loaded " + difference);
      } else {
        const std::string difference = AwaitContent(path, transfer.Data);
        if (!difference.empty()) Problem(transfer, size, "the saved file: " + difference);
        model_.Put(transfer.Name, transfer.Data);
      }
      return;
    }

    if (expect == Expect::kComplete) {
      ++tally_.failed;
      Problem(transfer, size, "did not recover: " + result.Describe());
    } else {
      ++tally_.aborted;
    }
    if (transfer.Op == Operation::kSave) {
      const std::string difference = UntouchedDifference(path, before);
      if (!difference.empty())
        Problem(transfer, size, "the unfinished save changed the file: " + difference);
    }
  }

  // The server must still answer, and the directory must hold exactly the model.
  void Finish(ServedPeer& rig) {
    if (!rig.Server().Running()) {
      tally_.problems.push_back("dorvaned is no longer running");
      return;
    }
    peer::C64Peer& peer = rig.Peer();
    const peer::LoadResult listing = peer.Directory();
    if (!listing.Succeeded) {
      tally_.problems.push_back("the final listing failed: " + listing.Describe());
    } else {
      CheckListing(peer::DecodeListing(listing.Data));
    }

    if (model_.Count() == 0) {
      const Bytes data = {'s', 'o', 'a', 'k'};
      const peer::PeerResult saved = peer.Save("last.prg", data);
      if (saved.Succeeded && AwaitContent(Root() / "last.prg", data).empty()) {
        model_.Put("last.prg", data);
      } else {
        tally_.problems.push_back("the final save failed: " + saved.Describe());
      }
    }
    if (model_.Count() > 0) {
      const std::string name = model_.Names().front();
      const peer::LoadResult last = peer.Load(name);
      const std::string difference =
          last.Succeeded ? DescribeDifference(*model_.Find(name), last.Data) : last.Describe();
      if (!difference.empty())
        tally_.problems.push_back("the final load of " + name + ": " + difference);
    }

    for (const std::string& problem : model_.Compare(Root())) tally_.problems.push_back(problem);
  }

  // Every file of the model is listed by its name in capitals, and nothing else is.
  void CheckListing(const peer::DecodedListing& listing) {
    if (!listing.Ok()) {
      tally_.problems.push_back("the final listing is damaged: " + listing.Error);
      return;
    }
    const std::size_t entries = listing.Lines.size() >= 2 ? listing.Lines.size() - 2 : 0;
    if (entries != model_.Count()) {
      tally_.problems.push_back("the final listing shows " + std::to_string(entries) +
                                " entries for " + std::to_string(model_.Count()) + " files");
    }
    for (const std::string& name : model_.Names()) {
      // Appended, not "\"" + name: GCC 12 at -O3 reads that as an overlapping copy.
      std::string quoted = "\"";
      quoted.append(UppercaseListingName(name)).push_back('"');
      bool found = false;
      for (const peer::ListingLine& line : listing.Lines) {
        if (line.Text.find(quoted) != std::string::npos) found = true;
      }
      if (!found) tally_.problems.push_back("the final listing does not show " + name);
    }
  }

  static std::string LogTail(const std::string& log) {
    constexpr int Lines = 20;
    std::size_t start = log.size();
    for (int i = 0; i <= Lines && start > 0; ++i) {
      start = log.rfind('\n', start - 1);
      if (start == std::string::npos) return log;
    }
    return log.substr(start + 1);
  }

  const SoakOptions& options_;
  std::FILE* out_;
  TempDir scene_;
  SoakPlanner planner_;
  FileModel model_;
  SoakTally tally_;
};

}  // namespace

SoakTally RunSoak(const SoakOptions& options, std::FILE* out) { return Soak(options, out).Run(); }

}  // namespace dorvane::bench
