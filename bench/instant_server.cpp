#include "bench/instant_server.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

#include "link/crc8.h"
#include "link/wire_format.h"

namespace dorvane::bench {

namespace {

constexpr int AttemptMs = 2;

}  // namespace

InstantLoadServer::InstantLoadServer(const std::string& device, std::vector<std::uint8_t> file)
    : fd_(::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)),
      file_(std::move(file)) {
  if (fd_ < 0) throw std::runtime_error("cannot open " + device);
  thread_ = std::thread([this] { Run(); });
}

InstantLoadServer::~InstantLoadServer() {
  stop_ = true;
  thread_.join();
  ::close(fd_);
}

bool InstantLoadServer::Read(std::uint8_t& byte) {
  while (!stop_) {
    if (::read(fd_, &byte, 1) == 1) return true;
    pollfd p{fd_, POLLIN, 0};
    ::poll(&p, 1, AttemptMs);
  }
  return false;
}

void InstantLoadServer::Write(std::uint8_t byte) {
  while (!stop_ && ::write(fd_, &byte, 1) != 1) {
    pollfd p{fd_, POLLOUT, 0};
    ::poll(&p, 1, AttemptMs);
  }
}

void InstantLoadServer::WritePacket(std::uint8_t type, const std::uint8_t* payload,
                                    std::size_t count) {
  const std::uint8_t header[2] = {type, static_cast<std::uint8_t>(count)};
  Write(type);
  Write(header[1]);
  Write(Crc8Of(header, 2));
  if (count == 0) return;
  for (std::size_t i = 0; i < count; ++i) Write(payload[i]);
  Write(Crc8Of(payload, count));
}

void InstantLoadServer::Run() {
  std::uint8_t byte = 0;
  while (Read(byte)) {
    if (byte != ptAttention) continue;
    Write(AttentionEcho(ptAttention));
    // The request: its header, then its name and the name's CRC.
    std::uint8_t header[3] = {};
    for (std::uint8_t& b : header) {
      if (!Read(b)) return;
    }
    for (int i = 0; header[1] > 0 && i <= header[1]; ++i) {
      if (!Read(byte)) return;
    }
    WritePacket(stOk, nullptr, 0);
    for (std::size_t sent = 0;;) {
      std::uint8_t reply[3] = {};
      for (std::uint8_t& b : reply) {
        if (!Read(b)) return;
      }
      if (reply[0] != stOk) break;
      const std::size_t count =
          std::min<std::size_t>(file_.size() - sent, static_cast<std::size_t>(MaxPayloadLength));
      if (count == 0) {
        WritePacket(stEndOfFile, nullptr, 0);
        break;
      }
      WritePacket(ptData, file_.data() + sent, count);
      sent += count;
    }
  }
}

}  // namespace dorvane::bench
