// A dorvaned serving a directory on a pseudo-terminal (or listening on loopback
// TCP), and the C64's side of the link on the other end, ready to send requests. Either the two
// ends are joined directly (bytes move as fast as the processes run) or through a WireRelay that
// plays a cable at a given byte time.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bench/bench_clock.h"
#include "bench/instant_server.h"
#include "bench/server_process.h"
#include "bench/timing_port.h"
#include "bench/wire_relay.h"
#include "link/monotonic_clock.h"
#include "ports/pty_pair.h"
#include "tools/peer/c64_peer.h"

namespace dorvane::bench {

// Closes its pair's master when it goes.
struct OwnedPty {
  OwnedPty() : pair(OpenPtyPair()) {}
  ~OwnedPty() { ClosePtyPair(pair); }
  OwnedPty(const OwnedPty&) = delete;
  OwnedPty& operator=(const OwnedPty&) = delete;
  PtyPair pair;
};

struct ServedPeerOptions {
  std::string server_program;
  std::filesystem::path root;
  std::filesystem::path log_path;  // outside the root
  // Set: every byte crosses a relay at this rate, both ways.
  std::optional<Nanos> byte_time;
  // The peer writes each packet in one burst (BurstPort), as a UART would send it;
  // otherwise one system call a byte, as the peer's own tool does.
  bool burst_writes = false;
  // dorvaned listens on a loopback TCP port and the peer connects to it; the other
  // link options do not apply.
  bool over_tcp = false;
  // Set: instead of dorvaned, an InstantLoadServer serves these bytes to every load,
  // to measure what the measuring itself costs.
  std::optional<std::vector<std::uint8_t>> instant_file;
  // server_program is the window program, serving on the offscreen platform.
  bool window = false;
  peer::PeerOptions peer;
};

class ServedPeer {
 public:
  // Starts the server and waits until it serves. Throws std::runtime_error (with
  // the server's log) when it does not come up.
  explicit ServedPeer(ServedPeerOptions options);
  ~ServedPeer();
  ServedPeer(const ServedPeer&) = delete;
  ServedPeer& operator=(const ServedPeer&) = delete;

  peer::C64Peer& Peer() { return *peer_; }
  TimingPort& Timing() { return *timing_; }
  // dorvaned; throws std::logic_error when an InstantLoadServer stands in for it.
  ServerProcess& Server();
  // Null when the ends are joined directly.
  WireRelay* Relay() { return relay_.get(); }

 private:
  // Declared so that they go in the right order: the peer before its port, the
  // relay before the pseudo-terminals it reads, the server before its device.
  OwnedPty server_pty_;
  std::optional<OwnedPty> peer_pty_;
  std::unique_ptr<ServerProcess> server_;
  std::unique_ptr<InstantLoadServer> instant_;
  std::unique_ptr<WireRelay> relay_;
  std::unique_ptr<SerialPort> port_;
  std::unique_ptr<TimingPort> timing_;
  MonotonicClock clock_;
  std::unique_ptr<peer::C64Peer> peer_;
};

}  // namespace dorvane::bench
