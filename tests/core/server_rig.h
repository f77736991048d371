// A Server over a fresh temporary directory, with the scripted port, the fake clock
// and the recording panel of LinkRig, for the state machine's and the disk commands'
// tests.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "service/server.h"
#include "storage/posix_volume.h"
#include "storage/served_volume.h"
#include "tests/support/fakes.h"

namespace dorvane::testing {

namespace fs = std::filesystem;

// The volume makes its root the process's current directory; the directory is put
// back and the tree removed at the end of the test.
struct TempRoot {
  TempRoot() : previous(fs::current_path()) {
    std::string pattern = (fs::temp_directory_path() / "dorvane-server-XXXXXX").string();
    path = fs::canonical(mkdtemp(pattern.data()));
  }
  ~TempRoot() {
    std::error_code ignored;
    fs::current_path(previous, ignored);
    fs::remove_all(path, ignored);
  }
  void Write(const std::string& name, const std::string& content = "data") const {
    std::ofstream(path / name, std::ios::binary) << content;
  }
  std::string Read(const std::string& name) const {
    std::ifstream in(path / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  bool Exists(const std::string& name) const { return fs::exists(fs::symlink_status(path / name)); }

  fs::path previous;
  fs::path path;
};

// What one request left behind: the bytes written after the attention echo, and the
// log lines after "Action".
struct Outcome {
  std::vector<std::uint8_t> reply;
  std::vector<std::string> log;
};

struct ServerRig : LinkRig {
  TempRoot root;
  PosixVolume volume{root.path.string()};
  ServedVolume served{volume};  // the host tree with its disk images, as served
  Server server{link, served, panel};

  // Plays one whole command request from the C64 (attention byte, packet) and runs
  // the server until it is back in ssIdle.
  Outcome Command(const std::vector<std::uint8_t>& text) {
    port->Feed({ptAttention});
    port->Feed(PacketBytes(ptCommand, text));
    const std::size_t written = port->written.size();
    const std::size_t logged = panel.log.size();
    server.State = ssIdle;
    for (int steps = 0; steps < 8; ++steps) {
      server.Step();
      if (server.State == ssIdle) break;
    }
    EXPECT_EQ(server.State, ssIdle);
    EXPECT_EQ(Unread(), 0u) << "the request was not read whole";
    Outcome outcome;
    // The first byte written is the echo 0xEF, the first two lines "Waiting..." and
    // "Action"; both are the state machine's own and tested there.
    if (port->written.size() > written)
      outcome.reply.assign(port->written.begin() + static_cast<long>(written) + 1,
                           port->written.end());
    if (panel.log.size() > logged + 2)
      outcome.log.assign(panel.log.begin() + static_cast<long>(logged) + 2, panel.log.end());
    return outcome;
  }
  Outcome Command(const std::string& text) {
    return Command(std::vector<std::uint8_t>(text.begin(), text.end()));
  }

  // The current directory the volume holds (the process's own is never changed).
  fs::path Cwd() const { return volume.CurrentDirDisplay(); }
};

}  // namespace dorvane::testing
