// The C64's side of the link: it opens each request with the attention byte, sends
// the request packet and then plays the stop-and-wait transfer, answering or
// sending one packet at a time. Used by the dorvane-peer tool, the end-to-end tests,
// the benchmark and the soak. Runs on the caller's thread; every wait for the server
// has a time limit, so a silent server costs seconds, never a hang.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "link/link.h"
#include "link/serial_port.h"
#include "link/tick_clock.h"
#include "tools/peer/paced_port.h"
#include "tools/peer/peer_fault.h"
#include "tools/peer/peer_panel.h"
#include "tools/peer/peer_result.h"

namespace dorvane::peer {

// Bytes moved so far, and the whole size when it is known (a save knows it; a load
// learns it only at stEndOfFile).
using ProgressFn = std::function<void(std::uint64_t done, std::optional<std::uint64_t> total)>;

struct PeerOptions {
  // The longest wait for any answer of the server, and for the port to take a byte.
  std::uint16_t ReplyTimeoutMs = 3000;
  // Attention bytes sent before giving up with "no echo".
  int AttentionTries = 2;
  // Resends of one block or reply in a row before giving up.
  int MaxRetries = 5;
  // After a damaged packet from the server: the rest of it is dropped until the line
  // has been quiet this long, then stRepeat goes out.
  std::uint16_t DrainQuietMs = 50;
  // After the server asked for a block again: its answer may have been to a torn
  // header, whose payload it then reads as more packets and answers one by one, the
  // last perhaps only after its one-second byte limit. The block is resent once the
  // line has been quiet for longer than that.
  std::uint16_t ResyncQuietMs = 1100;
  // Each byte written waits for its slot at this rate (ByteTime115200 for a real
  // cable's speed); 0 writes at once.
  std::chrono::nanoseconds ByteInterval{0};
  // Asked between byte attempts; true ends the request with "stopped".
  std::function<bool()> StopRequested;
  ProgressFn Progress;
};

struct PeerStats {
  std::uint64_t RepeatsSent = 0;      // stRepeat the peer sent for a damaged packet
  std::uint64_t RepeatsReceived = 0;  // stRepeat the server sent for one of ours
  std::uint64_t FaultsApplied = 0;
};

class C64Peer {
 public:
  // Keeps references to the port and the clock; they must outlive the peer.
  C64Peer(SerialPort& port, TickClock& clock, PeerOptions options = {});

  // Loads a file; on success Status is stEndOfFile and Data holds the file.
  LoadResult Load(std::string_view name);
  // Loads "$": Data holds the listing as a BASIC program image.
  LoadResult Directory();
  // Saves `data` under `name` in blocks of up to 255 bytes and ends with
  // stEndOfFile, which the server does not answer; on success Status is the stOk
  // that acknowledged the last block (or the open, for an empty file).
  PeerResult Save(std::string_view name, std::span<const std::uint8_t> data);
  // Sends a disk command ("s:old.prg"); Status is the server's answer, and the
  // request succeeded when it is stOk.
  PeerResult Command(std::string_view text);

  // Arms one fault for the coming transfer packets; it stays armed, across
  // requests, until it has been applied.
  void InjectFault(const Fault& fault) { fault_ = fault; }
  bool FaultPending() const { return fault_.Kind != FaultKind::kNone; }

  const PeerStats& Stats() const { return stats_; }
  // Bytes that passed the port, both ways, since the peer was made.
  std::uint64_t BytesWritten() const { return line_->BytesWritten(); }
  std::uint64_t BytesRead() const { return line_->BytesRead(); }

 private:
  enum class Rx { kPacket, kDamaged, kSilent, kStopped };

  bool BeginRequest(std::uint8_t type, std::string_view text, PeerResult& result);
  bool Attention(PeerResult& result);
  LoadResult Fetch(std::string_view name);

  // Writes bytes under the reply limit; false, with the result set, when the port
  // took nothing for that long or the user stopped.
  bool WriteBytes(const std::vector<std::uint8_t>& bytes, PeerResult& result);
  // Sends one packet of a transfer, with the armed fault when its turn has come.
  // False, with the result set, when the transfer ended here.
  bool SendTransfer(const std::vector<std::uint8_t>& packet, PeerResult& result);
  // WriteBytes for a transfer: a stop also ends the server's side with stAbort.
  bool WriteInTransfer(const std::vector<std::uint8_t>& packet, PeerResult& result);
  Rx Receive();
  // Drops incoming bytes until none has come for `quiet_ms`.
  void Drain(std::uint16_t quiet_ms);
  // Says nothing for `ms`; false when the user stopped meanwhile.
  bool Pause(std::uint32_t ms);

  static void Fail(PeerResult& result, PeerError error, std::string detail);
  // Fails the request and, when the server may still be in the transfer, ends it
  // there with stAbort so that it goes back to waiting for requests.
  void GiveUp(PeerResult& result, PeerError error, std::string detail, bool in_transfer);
  // Best effort, under a short limit and whatever the stop says.
  void SendAbort();
  void Report(std::uint64_t done, std::optional<std::uint64_t> total);
  std::string WithinLimit() const;

  PeerOptions options_;
  TickClock& clock_;
  PeerPanel panel_;
  NoPortProvider ports_;
  Link link_;
  PacedPort* line_;  // owned by link_.PortHandle
  Fault fault_;
  PeerStats stats_;
};

}  // namespace dorvane::peer
