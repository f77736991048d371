#include "bench/measurements.h"

#include <dirent.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

#include "bench/process_cpu.h"
#include "bench/sample_stats.h"
#include "bench/served_peer.h"
#include "bench/soak_model.h"
#include "bench/syscall_count.h"
#include "bench/temp_dir.h"
#include "formats/cbm_disk.h"
#include "formats/cbm_names.h"
#include "link/wire_format.h"
#include "service/listing.h"
#include "tools/peer/listing_decoder.h"
#include "tools/peer/paced_port.h"

namespace dorvane::bench {

namespace fs = std::filesystem;

namespace {

constexpr int ListedFiles = 2046;
constexpr std::chrono::seconds CommitPatience{5};

// A served root and the server's log beside it, outside what is served.
struct Scene {
  Scene() : dir("dorvane-bench-") { fs::create_directory(Root()); }
  fs::path Root() const { return dir.Path() / "root"; }
  fs::path Log() const { return dir.Path() / "server.log"; }
  TempDir dir;
};

ServedPeerOptions OptionsFor(const BenchSetup& setup, const Scene& scene, bool window = false) {
  ServedPeerOptions options;
  options.server_program = window ? setup.window_program : setup.server_program;
  options.window = window;
  options.root = scene.Root();
  options.log_path = scene.Log();
  options.burst_writes = true;
  return options;
}

Bytes RandomBytes(std::size_t size, std::uint64_t seed) {
  std::mt19937_64 random(seed);
  Bytes data(size);
  for (std::uint8_t& b : data) b = static_cast<std::uint8_t>(random());
  return data;
}

void WriteFile(const fs::path& path, const Bytes& data) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

double Seconds(Nanos span) { return std::chrono::duration<double>(span).count(); }

double Micros(double nanos) { return nanos / 1000.0; }

std::vector<double> AsDoubles(const std::vector<std::int64_t>& values) {
  return std::vector<double>(values.begin(), values.end());
}

ServedPeerOptions PacedOptionsFor(const BenchSetup& setup, const Scene& scene) {
  ServedPeerOptions options = OptionsFor(setup, scene);
  options.byte_time = peer::ByteTime115200;
  return options;
}

// The figures of a paced transfer that has just ended; stops the relay.
PacedFigures PacedFiguresOf(ServedPeer& served, double bytes_per_second) {
  served.Relay()->Stop();
  const RelayTimes& times = served.Relay()->Times();
  PacedFigures figures;
  figures.bytes_per_second = bytes_per_second;
  // The peer's turns come once a block: the distance between two of them is the
  // block's whole cycle, data and reply.
  const std::vector<TimingPort::Turn>& turns = served.Timing().Turns();
  std::vector<double> cycles;
  for (std::size_t i = 1; i < turns.size(); ++i) {
    cycles.push_back(static_cast<double>((turns[i].last_write - turns[i - 1].last_write).count()));
  }
  const double wire_ns = 262.0 * static_cast<double>(peer::ByteTime115200.count());
  figures.block_overhead_us = Micros(Median(cycles) - wire_ns);
  double lost = 0;
  double lost_slow = 0;
  for (double cycle : cycles) {
    const double over = std::max(cycle - wire_ns, 0.0);
    lost += over;
    if (over > 1e6) {
      ++figures.slow_blocks;
      lost_slow += over;
    }
  }
  figures.blocks = cycles.size();
  figures.slow_share_of_loss = lost > 0 ? lost_slow / lost : 0;
  figures.relay_realtime = served.Relay()->Realtime();
  figures.server_answer_us = Micros(Median(AsDoubles(times.server_answer)));
  figures.peer_answer_us = Micros(Median(AsDoubles(times.peer_answer)));
  figures.relay_late_us = Micros(Median(AsDoubles(times.last_byte_late)));
  figures.relay_late_p99_us = Micros(Percentile(AsDoubles(times.last_byte_late), 99));
  return figures;
}

// Loads `name`, which must bring `expected`; the bytes a second it took.
double TimedLoad(ServedPeer& served, const std::string& name, const Bytes& expected) {
  const Nanos start = SteadyNow();
  const peer::LoadResult result = served.Peer().Load(name);
  const Nanos end = SteadyNow();
  if (!result.Succeeded) throw std::runtime_error("load of " + name + ": " + result.Describe());
  const std::string difference = DescribeDifference(expected, result.Data);
  if (!difference.empty()) throw std::runtime_error("load of " + name + ": " + difference);
  return static_cast<double>(expected.size()) / Seconds(end - start);
}

// Saves `data` as `name` and waits for the server to commit it; the bytes a second
// the transfer took (up to the peer's stEndOfFile, which nothing answers).
double TimedSave(ServedPeer& served, const fs::path& root, const std::string& name,
                 const Bytes& data) {
  const Nanos start = SteadyNow();
  const peer::PeerResult result = served.Peer().Save(name, data);
  const Nanos end = SteadyNow();
  if (!result.Succeeded) throw std::runtime_error("save of " + name + ": " + result.Describe());
  const auto deadline = std::chrono::steady_clock::now() + CommitPatience;
  std::string difference;
  do {
    difference = DescribeDifference(data, ReadWholeFile(root / name));
    if (difference.empty()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  } while (std::chrono::steady_clock::now() < deadline);
  if (!difference.empty()) throw std::runtime_error("saved " + name + ": " + difference);
  return static_cast<double>(data.size()) / Seconds(end - start);
}

// A C64 disk's worth of names: mostly short ones shown as they are, every eighth
// too long for the listing and shown by its alternate name.
void FillListingDirectory(const fs::path& root) {
  std::mt19937 random(2046);
  for (int i = 0; i < ListedFiles; ++i) {
    char name[64];
    if (i % 8 == 7) {
      std::snprintf(name, sizeof name, "a rather long program name %04d.prg", i);
    } else {
      std::snprintf(name, sizeof name, "game%04d.prg", i);
    }
    const int fd = ::open((root / name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) throw std::runtime_error(std::string("cannot create ") + name);
    // Sizes only matter to the block counts; a sparse file costs no disk.
    const auto size = static_cast<off_t>(std::uniform_int_distribution<int>(0, 200000)(random));
    const bool sized = ::ftruncate(fd, size) == 0;
    ::close(fd);
    if (!sized) throw std::runtime_error(std::string("cannot size ") + name);
  }
}

std::size_t BlocksOf(std::size_t size) {
  const auto block = static_cast<std::size_t>(MaxPayloadLength);
  return (size + block - 1) / block;
}

// The server's processor time and reads and writes from construction to Of().
class CostMeter {
 public:
  explicit CostMeter(pid_t pid)
      : pid_(pid), run_ns_(ReadRunNanos(pid)), calls_(ReadReadWriteCalls(pid)) {}
  BlockCost Of(std::size_t blocks) const {
    const std::optional<std::uint64_t> run_ns = ReadRunNanos(pid_);
    const std::optional<std::uint64_t> calls = ReadReadWriteCalls(pid_);
    BlockCost cost;
    cost.blocks = blocks;
    if (blocks == 0) return cost;
    if (run_ns && run_ns_)
      cost.cpu_us_per_block = double(*run_ns - *run_ns_) / 1000.0 / double(blocks);
    if (calls && calls_) cost.rw_syscalls_per_block = double(*calls - *calls_) / double(blocks);
    return cost;
  }

 private:
  pid_t pid_;
  std::optional<std::uint64_t> run_ns_;
  std::optional<std::uint64_t> calls_;
};

}  // namespace

namespace {

LoadFigures MeasureLoadWith(const BenchSetup& setup, bool over_tcp, bool window) {
  Scene scene;
  const Bytes file = RandomBytes(setup.unthrottled_size, 1);
  WriteFile(scene.Root() / "big.prg", file);
  ServedPeerOptions options = OptionsFor(setup, scene, window);
  options.over_tcp = over_tcp;
  ServedPeer served(options);

  // The first load fills the page cache; the second is measured.
  TimedLoad(served, "big.prg", file);
  served.Timing().Clear();
  LoadFigures figures;
  const CostMeter meter(served.Server().Pid());
  figures.bytes_per_second = TimedLoad(served, "big.prg", file);
  figures.cost = meter.Of(BlocksOf(file.size()));
  const std::vector<double> turnarounds = TurnaroundsAfterOk(served.Timing().Turns());
  figures.turnaround_samples = turnarounds.size();
  figures.turnaround_median_us = Median(turnarounds);
  figures.turnaround_p99_us = Percentile(turnarounds, 99.0);
  return figures;
}

// The server's processor share over `seconds`, measured from /proc.
IdleFigures IdleCpuOf(pid_t pid, double idle_seconds) {
  // Let the start-up's work pass before the quiet is measured.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const std::optional<std::uint64_t> ticks_before = ReadCpuTicks(pid);
  const std::optional<std::uint64_t> nanos_before = ReadRunNanos(pid);
  const Nanos start = SteadyNow();
  std::this_thread::sleep_for(std::chrono::duration<double>(idle_seconds));
  const std::optional<std::uint64_t> ticks_after = ReadCpuTicks(pid);
  const std::optional<std::uint64_t> nanos_after = ReadRunNanos(pid);
  const double seconds = Seconds(SteadyNow() - start);
  if (!ticks_before || !ticks_after) throw std::runtime_error("cannot read /proc of the server");
  IdleFigures figures;
  figures.ticks_percent = CoreSharePercent(*ticks_after - *ticks_before, TicksPerSecond(), seconds);
  if (nanos_before && nanos_after) {
    figures.exact_percent = static_cast<double>(*nanos_after - *nanos_before) / 1e9 / seconds * 100;
  }
  return figures;
}

}  // namespace

LoadFigures MeasureLoad(const BenchSetup& setup, bool window) {
  return MeasureLoadWith(setup, false, window);
}

LoadFigures MeasureLoadOverTcp(const BenchSetup& setup) {
  return MeasureLoadWith(setup, true, false);
}

SaveFigures MeasureSave(const BenchSetup& setup) {
  Scene scene;
  ServedPeer served(OptionsFor(setup, scene));
  const Bytes data = RandomBytes(setup.unthrottled_size, 2);
  TimedSave(served, scene.Root(), "warm.prg", RandomBytes(64 << 10, 3));
  SaveFigures figures;
  const CostMeter meter(served.Server().Pid());
  figures.bytes_per_second = TimedSave(served, scene.Root(), "big.prg", data);
  figures.cost = meter.Of(BlocksOf(data.size()));
  return figures;
}

SyscallFigures MeasureSyscalls(const BenchSetup& setup) {
  Scene scene;
  const Bytes file = RandomBytes(64 << 10, 6);
  WriteFile(scene.Root() / "counted.prg", file);
  ServedPeer served(OptionsFor(setup, scene));
  TimedLoad(served, "counted.prg", file);  // warms the page cache
  SyscallFigures figures;
  {
    SyscallTally tally(served.Server().Pid());
    TimedLoad(served, "counted.prg", file);
    figures.load_per_block = double(tally.Stop()) / double(BlocksOf(file.size()));
  }
  {
    SyscallTally tally(served.Server().Pid());
    TimedSave(served, scene.Root(), "saved.prg", file);
    figures.save_per_block = double(tally.Stop()) / double(BlocksOf(file.size()));
  }
  return figures;
}

PacedFigures MeasurePacedLoad(const BenchSetup& setup) {
  Scene scene;
  const Bytes file = RandomBytes(setup.paced_size, 4);
  WriteFile(scene.Root() / "paced.prg", file);
  ServedPeer served(PacedOptionsFor(setup, scene));
  const double rate = TimedLoad(served, "paced.prg", file);
  return PacedFiguresOf(served, rate);
}

PacedFigures MeasurePacedLoadYardstick(const BenchSetup& setup) {
  Scene scene;
  const Bytes file = RandomBytes(setup.paced_size, 4);
  ServedPeerOptions options = PacedOptionsFor(setup, scene);
  options.instant_file = file;
  ServedPeer served(options);
  const double rate = TimedLoad(served, "paced.prg", file);
  return PacedFiguresOf(served, rate);
}

PacedFigures MeasurePacedSave(const BenchSetup& setup) {
  Scene scene;
  ServedPeer served(PacedOptionsFor(setup, scene));
  const double rate =
      TimedSave(served, scene.Root(), "paced.prg", RandomBytes(setup.paced_size, 5));
  return PacedFiguresOf(served, rate);
}

IdleFigures MeasureIdleCpu(const BenchSetup& setup, bool window) {
  Scene scene;
  ServedPeer served(OptionsFor(setup, scene, window));
  return IdleCpuOf(served.Server().Pid(), setup.idle_seconds);
}

IdleFigures MeasureIdleCpuListening(const BenchSetup& setup) {
  Scene scene;
  ServerOptions options;
  options.program = setup.server_program;
  options.port = "tcp-listen:127.0.0.1:0";
  options.root = scene.Root().string();
  options.log_path = scene.Log().string();
  ServerProcess server(options);
  server.ListenAddress(std::chrono::seconds(10));
  return IdleCpuOf(server.Pid(), setup.idle_seconds);
}

ListingFigures MeasureListing(const BenchSetup& setup) {
  Scene scene;
  FillListingDirectory(scene.Root());
  ServedPeer served(OptionsFor(setup, scene));

  std::vector<double> answers;
  std::vector<double> transfers;
  ListingFigures figures;
  for (int run = 0; run < setup.listing_runs; ++run) {
    served.Timing().Clear();
    const peer::LoadResult result = served.Peer().Directory();
    if (!result.Succeeded) throw std::runtime_error("listing: " + result.Describe());
    const peer::DecodedListing listing = peer::DecodeListing(result.Data);
    if (!listing.Ok()) throw std::runtime_error("listing: " + listing.Error);
    // The title and the total line come with the entries.
    figures.entries = listing.Lines.size() - 2;
    if (figures.entries != ListedFiles) {
      throw std::runtime_error("listing shows " + std::to_string(figures.entries) + " entries");
    }
    const TimingPort::Turn* request = RequestTurn(served.Timing().Turns());
    if (request == nullptr) throw std::runtime_error("listing: the exchange was not seen");
    answers.push_back(
        std::chrono::duration<double, std::milli>(request->first_answer - request->last_write)
            .count());
    transfers.push_back(
        std::chrono::duration<double, std::milli>(served.Timing().LastRead() - request->last_write)
            .count());
  }
  figures.answer_ms = Median(answers);
  figures.transfer_ms = Median(transfers);
  return figures;
}

namespace {

constexpr std::size_t FullD81Entries = 296;

// A D81 with `file` as "paced" and one-block files filling the rest of its directory.
void WriteFullD81(const fs::path& path, const Bytes& file) {
  CbmDisk disk = CbmDisk::Format(DiskKind::D81, "BENCH", "00");
  CbmName name;
  ToCbmName("paced", name);
  if (!disk.WriteFile(name, CbmPrg, file)) throw std::runtime_error("the image file is too big");
  for (std::size_t i = 1; i < FullD81Entries; ++i) {
    ToCbmName("file" + std::to_string(i), name);
    if (!disk.WriteFile(name, CbmPrg, Bytes(100, 0x42))) throw std::runtime_error("D81 is full");
  }
  WriteFile(path, disk.Bytes());
}

// The time from the request's last byte to the server's first answer.
double AnswerMs(const TimingPort& timing) {
  const TimingPort::Turn* request = RequestTurn(timing.Turns());
  if (request == nullptr) throw std::runtime_error("the exchange was not seen");
  return std::chrono::duration<double, std::milli>(request->first_answer - request->last_write)
      .count();
}

}  // namespace

ImageListingFigures MeasureImageListing(const BenchSetup& setup) {
  Scene scene;
  WriteFullD81(scene.Root() / "full.d81", Bytes(1000, 0x11));
  ServedPeer served(OptionsFor(setup, scene));
  std::vector<double> enters;
  std::vector<double> listings;
  ImageListingFigures figures;
  for (int run = 0; run < setup.listing_runs; ++run) {
    served.Timing().Clear();
    const peer::PeerResult entered = served.Peer().Command("c:full.d81");
    if (!entered.Succeeded) throw std::runtime_error("c:full.d81: " + entered.Describe());
    enters.push_back(AnswerMs(served.Timing()));
    served.Timing().Clear();
    const peer::LoadResult result = served.Peer().Directory();
    if (!result.Succeeded) throw std::runtime_error("image listing: " + result.Describe());
    listings.push_back(AnswerMs(served.Timing()));
    const peer::DecodedListing listing = peer::DecodeListing(result.Data);
    if (!listing.Ok()) throw std::runtime_error("image listing: " + listing.Error);
    figures.entries = listing.Lines.size() - 2;
    if (figures.entries != FullD81Entries) {
      throw std::runtime_error("image listing shows " + std::to_string(figures.entries) +
                               " entries");
    }
    const peer::PeerResult left = served.Peer().Command("c:..");
    if (!left.Succeeded) throw std::runtime_error("c:..: " + left.Describe());
  }
  figures.enter_answer_ms = Median(enters);
  figures.listing_answer_ms = Median(listings);
  return figures;
}

PacedFigures MeasurePacedImageLoad(const BenchSetup& setup) {
  Scene scene;
  const Bytes file = RandomBytes(setup.paced_size, 6);
  WriteFullD81(scene.Root() / "full.d81", file);
  ServedPeer served(PacedOptionsFor(setup, scene));
  const peer::PeerResult entered = served.Peer().Command("c:full.d81");
  if (!entered.Succeeded) throw std::runtime_error("c:full.d81: " + entered.Describe());
  served.Timing().Clear();
  const double rate = TimedLoad(served, "paced", file);
  return PacedFiguresOf(served, rate);
}

namespace {

// The peak resident memory of the process `pid` in MiB, from its status; 0 when it
// cannot be read.
double PeakMemoryMb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::strtod(line.c_str() + 6, nullptr) / 1024.0;
  }
  return 0;
}

// How long reading the names of `dir` takes with nothing done with them: the
// floor under any first listing of it.
double ReaddirMs(const std::filesystem::path& dir) {
  const auto start = std::chrono::steady_clock::now();
  DIR* handle = opendir(dir.c_str());
  if (handle == nullptr) return 0;
  while (readdir(handle) != nullptr) {
  }
  closedir(handle);
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

// How long the kernel takes to stat() the first `count` names of `dir` in listing
// order (all of them are lower case, so that is their byte order): best of three,
// each after a pause of 100 ms. A request comes after a pause too, and on a
// virtual machine the same calls take several times as long after one as in a
// tight loop.
double ListedStatMs(const std::filesystem::path& dir, std::size_t count) {
  std::vector<std::string> names;
  if (DIR* handle = opendir(dir.c_str())) {
    while (const dirent* entry = readdir(handle)) {
      if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
    }
    closedir(handle);
  }
  count = std::min(count, names.size());
  std::partial_sort(names.begin(), names.begin() + static_cast<std::ptrdiff_t>(count), names.end());
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return 0;
  double fastest = 1e9;
  for (int run = 0; run < 3; ++run) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto start = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < count; ++i) {
      struct stat st;
      ::fstatat(fd, names[i].c_str(), &st, AT_SYMLINK_NOFOLLOW);
    }
    fastest = std::min(
        fastest, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                     .count());
  }
  ::close(fd);
  return fastest;
}

}  // namespace

bool RoomForFiles(int entries) {
  struct statvfs fs;
  if (::statvfs(std::filesystem::temp_directory_path().c_str(), &fs) != 0) return false;
  // An inode each, and for the directory some 100 bytes each; the rest stays free.
  const auto files = static_cast<unsigned long long>(entries);
  const unsigned long long bytes = static_cast<unsigned long long>(fs.f_bavail) * fs.f_frsize;
  return fs.f_favail >= files * 2 + 100000 && bytes >= files * 1000 + (1ULL << 30);
}

ScaleFigures MeasureScale(const BenchSetup& setup, int entries, bool long_names) {
  Scene scene;
  const auto create = [&](const char* name) {
    const int fd = ::open((scene.Root() / name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) throw std::runtime_error(std::string("cannot create ") + name);
    ::close(fd);
  };
  std::size_t name_bytes = 0;
  for (int i = 0; i < entries; ++i) {
    char name[64];
    if (long_names && i % 2 == 1) {
      std::snprintf(name, sizeof name, "a rather long program name %06d.prg", i);
    } else {
      std::snprintf(name, sizeof name, "g%06d.prg", i);
    }
    create(name);
    name_bytes += std::strlen(name);
  }
  WriteFile(scene.Root() / "target.prg", Bytes(100, 1));
  ServedPeer served(OptionsFor(setup, scene));
  ScaleFigures figures;
  const auto best = [&](auto request) {
    double fastest = 1e9;
    for (int run = 0; run < 3; ++run) {
      served.Timing().Clear();
      const peer::LoadResult result = request();
      if (!result.Succeeded) throw std::runtime_error("scale: " + result.Describe());
      fastest = std::min(fastest, AnswerMs(served.Timing()));
    }
    return fastest;
  };
  // The first listing reads the directory, which changed a moment ago.
  served.Timing().Clear();
  const peer::LoadResult first = served.Peer().Directory();
  if (!first.Succeeded) throw std::runtime_error("scale: " + first.Describe());
  figures.first_listing_ms = AnswerMs(served.Timing());
  figures.readdir_ms = ReaddirMs(scene.Root());
  figures.listing_ms = best([&] { return served.Peer().Directory(); });
  figures.listed_stat_ms = ListedStatMs(scene.Root(), MaxListedEntries);
  figures.exact_load_ms = best([&] { return served.Peer().Load("target.prg"); });
  if (long_names) {
    // The first long name in listing order, and so the first of its prefix.
    figures.alternate_load_ms = best([&] { return served.Peer().Load("a_rath~1.prg"); });
  }
  // A save under a new name must make sure no entry has it in another case first.
  int saved = 0;
  double fastest_save = 1e9;
  for (int run = 0; run < 3; ++run) {
    served.Timing().Clear();
    const std::string name = "new" + std::to_string(saved++) + ".prg";
    const peer::PeerResult result = served.Peer().Save(name, Bytes(10, 2));
    if (!result.Succeeded) throw std::runtime_error("scale: " + result.Describe());
    fastest_save = std::min(fastest_save, AnswerMs(served.Timing()));
  }
  figures.new_name_save_ms = fastest_save;
  // Another program adds files that list before every other, so that each goes
  // among the entries the listings so far put in order.
  int round = 0;
  const auto after_adding = [&](int added) {
    return best([&] {
      ++round;
      for (int i = 0; i < added; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "0 added %d-%04d.prg", round, i);
        create(name);
      }
      return served.Peer().Directory();
    });
  };
  figures.added_1_listing_ms = after_adding(1);
  figures.added_1000_listing_ms = after_adding(1000);
  if (long_names) {
    figures.added_1_alternate_load_ms = best([&] {
      ++round;
      create(("0 added " + std::to_string(round) + ".prg").c_str());
      return served.Peer().Load("a_rath~1.prg");
    });
  }
  figures.peak_memory_mb = PeakMemoryMb(served.Server().Pid());
  figures.names_mb = static_cast<double>(name_bytes) / (1 << 20);
  return figures;
}

}  // namespace dorvane::bench
