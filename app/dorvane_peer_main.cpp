// dorvane-peer: plays the C64 over a serial device, a pseudo-terminal or TCP, so
// that a user can check a cable and a server from the PC side.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "link/monotonic_clock.h"
#include "tools/peer/c64_peer.h"
#include "tools/peer/listing_decoder.h"
#include "tools/peer/peer_cli.h"
#include "tools/peer/peer_port.h"

namespace {

using dorvane::peer::CliAction;
using dorvane::peer::CliRequest;
using Clock = std::chrono::steady_clock;

volatile std::sig_atomic_t interrupted = 0;

void OnInterrupt(int) { interrupted = 1; }

void Complain(const std::string& text) { std::fprintf(stderr, "dorvane-peer: %s\n", text.c_str()); }

// Progress on standard error, only where someone watches it and only once a
// transfer has run long enough to be worth watching.
class ProgressLine {
 public:
  ProgressLine() : shown_(isatty(STDERR_FILENO) != 0), start_(Clock::now()) {}

  void Update(std::uint64_t done, std::optional<std::uint64_t> total) {
    if (!shown_) return;
    const auto now = Clock::now();
    if (now - start_ < std::chrono::milliseconds(500) ||
        now - last_ < std::chrono::milliseconds(100))
      return;
    last_ = now;
    if (total && *total > 0) {
      std::fprintf(stderr, "\r%llu of %llu bytes (%.0f%%)   ",
                   static_cast<unsigned long long>(done), static_cast<unsigned long long>(*total),
                   100.0 * done / *total);
    } else {
      std::fprintf(stderr, "\r%llu bytes   ", static_cast<unsigned long long>(done));
    }
    drawn_ = true;
  }

  void Clear() {
    if (drawn_) std::fputs("\r\x1b[K", stderr);
    drawn_ = false;
  }

  double Seconds() const { return std::chrono::duration<double>(Clock::now() - start_).count(); }

 private:
  bool shown_;
  bool drawn_ = false;
  Clock::time_point start_;
  Clock::time_point last_{};
};

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& data) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// Writes beside the target and moves into place only when complete; without
// --force an existing file is never replaced, even one that appeared meanwhile.
bool WriteLoadedFile(const std::string& path, const std::vector<std::uint8_t>& data, bool force,
                     std::string& error) {
  std::string temp = path + ".partXXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) {
    error = "cannot write beside " + path + ": " + std::strerror(errno);
    return false;
  }
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  // mkstemp makes the file private; a loaded file gets the usual permissions.
  const mode_t mask = umask(0);
  umask(mask);
  const bool written = done == data.size() && fchmod(fd, 0666 & ~mask) == 0 && fsync(fd) == 0;
  const int saved = errno;
  close(fd);
  if (!written) {
    unlink(temp.c_str());
    error = "cannot write " + path + ": " + std::strerror(saved);
    return false;
  }
  const bool placed =
      force ? rename(temp.c_str(), path.c_str()) == 0 : link(temp.c_str(), path.c_str()) == 0;
  const int place_error = errno;
  unlink(temp.c_str());
  if (!placed) {
    error = place_error == EEXIST ? path + " exists (use --force to replace it)"
                                  : "cannot create " + path + ": " + std::strerror(place_error);
  }
  return placed;
}

int Run(const CliRequest& request) {
  if (request.Action == CliAction::kLoad && !request.Force &&
      access(request.File.c_str(), F_OK) == 0) {
    Complain(request.File + " exists (use --force to replace it)");
    return 1;
  }
  std::vector<std::uint8_t> outgoing;
  if (request.Action == CliAction::kSave && !ReadWholeFile(request.File, outgoing)) {
    Complain("cannot read " + request.File + ": " + std::strerror(errno));
    return 1;
  }

  std::string error;
  const std::unique_ptr<dorvane::SerialPort> port =
      dorvane::peer::OpenPeerPort(request.Port, request.Ip232, error);
  if (!port) {
    Complain(error);
    return 1;
  }

  ProgressLine progress;
  dorvane::peer::PeerOptions options;
  options.ReplyTimeoutMs = request.TimeoutMs;
  options.MaxRetries = request.Retries;
  options.ByteInterval = std::chrono::nanoseconds(std::llround(request.PaceMicros * 1000.0));
  options.StopRequested = [] { return interrupted != 0; };
  options.Progress = [&progress](std::uint64_t done, std::optional<std::uint64_t> total) {
    progress.Update(done, total);
  };
  dorvane::MonotonicClock clock;
  dorvane::peer::C64Peer peer(*port, clock, options);

  dorvane::peer::PeerResult result;
  std::uint64_t moved = 0;
  std::vector<std::uint8_t> incoming;
  switch (request.Action) {
    case CliAction::kLoad:
    case CliAction::kDir: {
      auto loaded = request.Action == CliAction::kLoad ? peer.Load(request.Name) : peer.Directory();
      incoming = std::move(loaded.Data);
      moved = incoming.size();
      result = loaded;
      break;
    }
    case CliAction::kSave:
      result = peer.Save(request.Name, outgoing);
      moved = outgoing.size();
      break;
    case CliAction::kCommand:
      result = peer.Command(request.Text);
      break;
    case CliAction::kHelp:
    case CliAction::kVersion:
      break;
  }
  progress.Clear();

  if (!result.Succeeded) {
    Complain(result.Describe());
    return 1;
  }
  if (request.Action == CliAction::kCommand) {
    std::printf("%s\n", result.Describe().c_str());
    return 0;
  }
  if (request.Action == CliAction::kDir) {
    const auto listing = dorvane::peer::DecodeListing(incoming);
    const bool ansi = isatty(STDOUT_FILENO) != 0;
    for (const auto& line : listing.Lines) {
      std::printf("%s\n", dorvane::peer::FormatListingLine(line, ansi).c_str());
    }
    std::fflush(stdout);
    if (!listing.Ok()) {
      Complain("damaged listing: " + listing.Error);
      return 1;
    }
  }
  if (request.Action == CliAction::kLoad) {
    std::string error;
    if (!WriteLoadedFile(request.File, incoming, request.Force, error)) {
      Complain(error);
      return 1;
    }
  }
  std::fprintf(stderr, "%s: %s\n", result.Describe().c_str(),
               dorvane::peer::FormatThroughput(moved, progress.Seconds()).c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  const auto request =
      dorvane::peer::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), error);
  if (!request) {
    Complain(error);
    std::fputs("Try 'dorvane-peer --help'.\n", stderr);
    return 2;
  }
  if (request->Action == CliAction::kHelp) {
    std::fputs(dorvane::peer::CliUsage, stdout);
    return 0;
  }
  if (request->Action == CliAction::kVersion) {
    std::printf("dorvane-peer %s\n", DORVANE_VERSION);
    return 0;
  }

  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  return Run(*request);
}
