// The yardstick for the paced figures: a server that does nothing but answer a
// load at once, from memory, over the same pseudo-terminals, relay and C64 side as
// dorvaned. What it loses against the ceiling is what the measuring costs; what
// dorvaned loses beyond that is its own. It writes one byte per system call, as
// dorvaned does, and waits for bytes in attempts of 2 ms, as dorvaned does; it
// checks nothing and asks for nothing again, since nothing goes wrong on the way.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace dorvane::bench {

class InstantLoadServer {
 public:
  // Opens `device` (a pseudo-terminal's slave, in raw mode) and answers every load
  // request with `file`, whatever its name. Throws std::runtime_error when the
  // device cannot be opened.
  InstantLoadServer(const std::string& device, std::vector<std::uint8_t> file);
  ~InstantLoadServer();
  InstantLoadServer(const InstantLoadServer&) = delete;
  InstantLoadServer& operator=(const InstantLoadServer&) = delete;

 private:
  void Run();
  // False once the server is told to stop.
  bool Read(std::uint8_t& byte);
  void Write(std::uint8_t byte);
  void WritePacket(std::uint8_t type, const std::uint8_t* payload, std::size_t count);

  int fd_;
  std::vector<std::uint8_t> file_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace dorvane::bench
