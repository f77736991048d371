#include "bench/soak_runner.h"

#include <sys/mount.h>
#include <sys/resource.h>

#include <chrono>
#include <optional>
#include <set>
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

// A small disk for the saves that must find it full, and the file-size limit the
// others run into. The largest random save (64 KiB) fits neither.
constexpr const char* FullDiskSize = "size=64k";
constexpr rlim_t SizeLimit = 16 * 1024;

// Sets the server's file-size limit (RLIM_INFINITY lifts it); the server ignores
// SIGXFSZ, so a write past it fails with EFBIG.
bool LimitFileSize(pid_t pid, rlim_t limit) {
  rlimit now{};
  if (prlimit(pid, RLIMIT_FSIZE, nullptr, &now) != 0) return false;
  now.rlim_cur = limit == RLIM_INFINITY ? now.rlim_max : std::min(limit, now.rlim_max);
  return prlimit(pid, RLIMIT_FSIZE, &now, nullptr) == 0;
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

  ~Soak() {
    if (tally_.full_disk_mounted) umount(FullDisk().c_str());
  }

  SoakTally Run() {
    ServedPeerOptions served;
    served.server_program = options_.server_program;
    served.root = Root();
    served.log_path = scene_.Path() / "server.log";
    // Only root may mount one; elsewhere the full disk is left out.
    if (options_.host_fault_chance > 0 && fs::create_directory(FullDisk()) &&
        mount("tmpfs", FullDisk().c_str(), "tmpfs", 0, FullDiskSize) == 0) {
      tally_.full_disk_mounted = true;
    } else {
      fs::remove(FullDisk());
    }
    ServedPeer rig(served);

    const auto deadline = Clock::now() + std::chrono::duration<double>(options_.seconds);
    std::bernoulli_distribution host_fault(options_.host_fault_chance);
    while (Clock::now() < deadline) {
      if (host_fault(chance_)) {
        HostFault(rig);
      } else {
        One(rig.Peer());
      }
    }
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
  fs::path FullDisk() const { return Root() / "full"; }

  // A save the host refuses at some block: the C64 must hear stError, the old file
  // must stay, and nothing may be left behind.
  void HostFault(ServedPeer& rig) {
    const bool onto_full_disk =
        tally_.full_disk_mounted && std::bernoulli_distribution(0.5)(chance_);
    Bytes data;
    data = planner_.RandomData();
    if (onto_full_disk) {
      data.resize(66000 + data.size() / 2, 0x5A);  // more than the disk holds
    } else {
      while (data.size() <= SizeLimit) data = planner_.RandomData();
    }
    PlannedTransfer transfer;
    transfer.Op = Operation::kSave;
    if (onto_full_disk) {
      transfer.Name = "full/" + planner_.FreshName(model_.Names());
      ++tally_.disk_full;
    } else {
      // Over a file that exists, now and then, to see that it stays.
      const std::vector<std::string> names = model_.Names();
      transfer.Name =
          !names.empty() && std::bernoulli_distribution(0.5)(chance_)
              ? names[std::uniform_int_distribution<std::size_t>(0, names.size() - 1)(chance_)]
              : planner_.FreshName(names);
      ++tally_.size_limited;
      if (!LimitFileSize(rig.Server().Pid(), SizeLimit)) {
        tally_.problems.push_back("cannot set the server's file-size limit");
        return;
      }
    }
    ++tally_.saves;
    const Bytes* known = model_.Find(transfer.Name);
    const std::optional<Bytes> before = known ? std::optional<Bytes>(*known) : std::nullopt;
    const peer::PeerResult result = rig.Peer().Save(transfer.Name, data);
    if (!onto_full_disk) LimitFileSize(rig.Server().Pid(), RLIM_INFINITY);
    if (options_.verbose) {
      std::fprintf(out_, "%s, host fault: %s\n", Describe(transfer, data.size()).c_str(),
                   result.Succeeded ? "done" : result.Describe().c_str());
    }
    if (result.Succeeded || result.Status != stError) {
      ++tally_.failed;
      Problem(transfer, data.size(), "the C64 did not hear stError: " + result.Describe());
    } else {
      ++tally_.aborted;
    }
    const std::string difference = UntouchedDifference(Root() / transfer.Name, before);
    if (!difference.empty())
      Problem(transfer, data.size(), "the failed save changed the file: " + difference);
  }

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

    const std::set<std::string> directories =
        tally_.full_disk_mounted ? std::set<std::string>{"full"} : std::set<std::string>{};
    for (const std::string& problem : model_.Compare(Root(), directories)) {
      tally_.problems.push_back(problem);
    }
  }

  // Every file of the model is listed by its name in capitals, and nothing else is.
  void CheckListing(const peer::DecodedListing& listing) {
    if (!listing.Ok()) {
      tally_.problems.push_back("the final listing is damaged: " + listing.Error);
      return;
    }
    std::size_t entries = listing.Lines.size() >= 2 ? listing.Lines.size() - 2 : 0;
    if (tally_.full_disk_mounted && entries > 0) --entries;  // the full disk's directory
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
  std::mt19937_64 chance_{options_.seed ^ 0x9e3779b97f4a7c15ULL};
  FileModel model_;
  SoakTally tally_;
};

}  // namespace

SoakTally RunSoak(const SoakOptions& options, std::FILE* out) { return Soak(options, out).Run(); }

}  // namespace dorvane::bench
