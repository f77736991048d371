#include "bench/served_peer.h"

#include <fcntl.h>

#include <stdexcept>

#include "bench/burst_port.h"
#include "ports/host_port_text.h"
#include "ports/tcp_client_port.h"
#include "ports/termios_port.h"

namespace dorvane::bench {

namespace {

constexpr std::chrono::seconds StartPatience{10};

}  // namespace

ServedPeer::ServedPeer(ServedPeerOptions options) {
  if (options.instant_file) {
    instant_ = std::make_unique<InstantLoadServer>(server_pty_.pair.slave_path,
                                                   std::move(*options.instant_file));
  } else {
    ServerOptions server;
    server.program = options.server_program;
    // Port 0: the system picks a free one, and the log names it.
    server.port = options.over_tcp ? "tcp-listen:127.0.0.1:0" : server_pty_.pair.slave_path;
    server.root = options.root.string();
    server.log_path = options.log_path.string();
    server.window = options.window;
    server_ = std::make_unique<ServerProcess>(server);
    if (!server_->WaitUntilServing(StartPatience)) {
      throw std::runtime_error(options.server_program + " did not come up; its log:\n" +
                               server_->Log());
    }
  }

  if (options.over_tcp) {
    const std::string address = server_->ListenAddress(StartPatience);
    std::string error;
    const auto where = ParseHostPort(address, "", error);
    if (!where) throw std::runtime_error("dorvaned named no address: " + error);
    port_ = TcpClientPort::Connect(*where);
  } else if (options.byte_time) {
    peer_pty_.emplace();
    // The peer holds the slave of its own pair as the C64 holds its end of a cable.
    const std::string& path = peer_pty_->pair.slave_path;
    if (options.burst_writes) {
      const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
      if (fd >= 0) port_ = std::make_unique<BurstPort>(fd);
    } else {
      port_ = TermiosPort::Open(path);
    }
    if (!port_) throw std::runtime_error("cannot open " + path);
    relay_ = std::make_unique<WireRelay>(server_pty_.pair.master, peer_pty_->pair.master,
                                         *options.byte_time);
    relay_->Start();
  } else {
    const int master = server_pty_.pair.master;
    server_pty_.pair.master = -1;  // the port closes it now
    if (options.burst_writes) {
      port_ = std::make_unique<BurstPort>(master);
    } else {
      port_ = TermiosPort::Adopt(master);
    }
  }
  timing_ = std::make_unique<TimingPort>(*port_);
  peer_ = std::make_unique<peer::C64Peer>(*timing_, clock_, options.peer);
}

ServerProcess& ServedPeer::Server() {
  if (!server_) throw std::logic_error("no dorvaned: an instant server stands in");
  return *server_;
}

ServedPeer::~ServedPeer() {
  peer_.reset();
  if (relay_) relay_->Stop();
  // The server is stopped by its own destructor, before the pseudo-terminals close.
}

}  // namespace dorvane::bench
