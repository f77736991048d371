// A served root, a pseudo-terminal standing in for the cable, build/bin/dorvaned on
// its slave and the C64 played by the peer library on its master: what every
// end-to-end test of the headless server starts from.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/monotonic_clock.h"
#include "platform/pty_pair.h"
#include "platform/termios_port.h"
#include "tests/e2e/server_process.h"
#include "tools/peer/c64_peer.h"

namespace dorvane::e2e {

using Bytes = std::vector<std::uint8_t>;

// Bytes that no file layout or coincidence reproduces, the same for a given seed.
Bytes RandomBytes(std::size_t count, std::uint32_t seed);

Bytes TextBytes(const std::string& text);

// A listing image as LIST shows it, each line as its number and its stored text;
// a damaged image fails the test and gives what could be read.
using Listed = std::vector<std::pair<std::uint16_t, std::string>>;
Listed ListedLines(const Bytes& image);

// The title line and the text of the total line, the same in every listing.
inline const std::string ListingTitle = "\x12\" VESKA DORVANE   \" V4.0";
inline const std::string ListingTotal = " BLOCKS FULL." + std::string(7, ' ');

// One entry line's text as the listing lays it out: lead spaces, the quoted name,
// fill, type (and read-only mark) and trailing spaces.
std::string EntryText(int lead, const std::string& name, int fill, const std::string& type,
                      int trail);

class ServedSession : public ::testing::Test {
 protected:
  ServedSession();
  ~ServedSession() override;

  // Starts dorvaned serving Root() and waits until it waits for the C64; then the
  // peer is ready. Options set in `options` beforehand apply to the peer.
  void StartServer(bool allow_delete = true, FileAccess access = FileAccess::kAsTheTests);
  // Stops the server with `signal` (bounded; killed when it ignores it) and gives
  // its exit status.
  std::optional<int> StopServer(int signal = SIGTERM);

  // The directory the server serves, and the one it sits in, which the C64 must
  // never reach.
  const std::filesystem::path& Root() const { return root_; }
  const std::filesystem::path& Outside() const { return outside_; }

  // Writes a file below the root (or anywhere, given an absolute path).
  void Put(const std::filesystem::path& path, const Bytes& data);
  // A file's bytes; nothing when it cannot be read.
  std::optional<Bytes> Contents(const std::filesystem::path& path) const;
  // Temporary files of saves left anywhere below the served root's parent.
  std::vector<std::filesystem::path> PendingSaves() const;

  ServerProcess& Server() { return *server_; }
  peer::C64Peer& Peer() { return *peer_; }

  // The cable as the server was told it: the pair's slave, or with `serve_link` a
  // symbolic link to it, as socat's link= makes one.
  std::string PortPath() const;
  // The cable is pulled: the far end closes and, for a link, the link goes. Safe to
  // call from inside a transfer (a progress callback): the peer's port then reads
  // nothing and writes into the void until the peer gives up.
  void Unplug();
  // A new pair appears behind the same link; a new peer plays the C64 on it.
  void Replug();

  peer::PeerOptions options;
  bool serve_link = false;  // set before StartServer

 private:
  std::filesystem::path outside_;
  std::filesystem::path root_;
  PtyPair pty_;
  MonotonicClock clock_;
  std::unique_ptr<ServerProcess> server_;
  std::unique_ptr<TermiosPort> port_;
  std::unique_ptr<peer::C64Peer> peer_;
  std::vector<std::unique_ptr<TermiosPort>> unplugged_;  // ports of peers replaced since
  std::vector<std::unique_ptr<peer::C64Peer>> retired_;
};

}  // namespace dorvane::e2e
