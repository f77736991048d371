// A served root, build/bin/dorvaned serving it and the C64 played by the peer
// library: what every end-to-end test of the headless server starts from. The link
// between them is a pseudo-terminal standing in for the cable, a loopback TCP
// connection to `--listen`, or a socket on the server's standard input and output
// (`--stdio`); a test written once runs over each of them.
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

#include "link/monotonic_clock.h"
#include "link/serial_port.h"
#include "ports/pty_pair.h"
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

enum class LinkKind { kPty, kTcp, kStdio };

// "Pty", "Tcp", "Stdio": the suffix of a test's name for its link.
std::string LinkName(const ::testing::TestParamInfo<LinkKind>& info);

// Every link, for INSTANTIATE_TEST_SUITE_P.
inline const auto EveryLink = ::testing::Values(LinkKind::kPty, LinkKind::kTcp, LinkKind::kStdio);

class ServedSession : public ::testing::Test {
 protected:
  explicit ServedSession(LinkKind link = LinkKind::kPty);
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
  // The directories of the files the server holds open with no name (a save under
  // way), one entry a file.
  std::vector<std::filesystem::path> UnnamedSaves() const;

  ServerProcess& Server() { return *server_; }
  peer::C64Peer& Peer() { return *peer_; }
  // The port the peer plays on, for bytes the peer would never send.
  SerialPort& PeerLink() { return *port_; }
  LinkKind LinkUsed() const { return link_; }

  // With a TCP link: where the server listens, and a fresh connection to it (which
  // takes the server from the one before).
  const std::string& ListenAddress() const { return listen_address_; }
  std::unique_ptr<SerialPort> Connect();

  // Closes the peer's side of the link: the server sees the hang-up or the end of
  // its input.
  void ClosePeer();

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
  // More arguments for the server ("--ip232"), set before StartServer.
  std::vector<std::string> server_args;
  bool serve_link = false;  // set before StartServer

 private:
  // The server's arguments and the peer's port for the link.
  std::vector<std::string> LinkArgs();
  std::unique_ptr<SerialPort> PeerPort();

  LinkKind link_;
  std::filesystem::path outside_;
  std::filesystem::path root_;
  PtyPair pty_;
  int stdio_ends_[2] = {-1, -1};  // the peer's end, the server's end
  std::string listen_address_;
  MonotonicClock clock_;
  std::unique_ptr<ServerProcess> server_;
  std::unique_ptr<SerialPort> port_;
  std::unique_ptr<peer::C64Peer> peer_;
  std::vector<std::unique_ptr<SerialPort>> unplugged_;  // ports of peers replaced since
  std::vector<std::unique_ptr<peer::C64Peer>> retired_;
};

// A ServedSession over the link its parameter names.
class ServedOverLink : public ServedSession, public ::testing::WithParamInterface<LinkKind> {
 protected:
  ServedOverLink() : ServedSession(GetParam()) {}
};

}  // namespace dorvane::e2e
