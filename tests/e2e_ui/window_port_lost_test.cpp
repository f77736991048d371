// The cable is pulled from the window while it serves (the far end of its
// pseudo-terminal closes and the link path goes), idle, in a load and in a save,
// then a new pair appears at the same path: the log says "Port lost" and "Port
// back", the title names the lost port meanwhile, the old file stays whole with no
// temporary file, and a load works again.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "link/monotonic_clock.h"
#include "ports/host_ports.h"
#include "ports/pty_pair.h"
#include "ports/termios_port.h"
#include "storage/posix_files.h"
#include "storage/posix_volume.h"
#include "tests/e2e_ui/window_run.h"
#include "tests/support/cable_moments.h"
#include "tools/peer/c64_peer.h"
#include "ui/main_form.h"

namespace dorvane {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

using testing::When;

bool Waited(const std::atomic<bool>& flag) {
  for (int i = 0; i < 1000 && !flag; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return flag;
}

class WindowPortLost : public ::testing::TestWithParam<When> {};

TEST_P(WindowPortLost, LostThenBackWithTheOldFileIntact) {
  std::string pattern = (fs::temp_directory_path() / "dorvane-window-lost-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const fs::path outside = pattern;
  const fs::path root = outside / "served";
  fs::create_directories(root);
  fs::create_directories(outside / "lock");
  const std::string link = (outside / "cable").string();

  Bytes old_bytes(4000);
  for (std::size_t i = 0; i < old_bytes.size(); ++i)
    old_bytes[i] = static_cast<std::uint8_t>(i * 13 + 5);
  std::ofstream(root / "game.prg", std::ios::binary)
      .write(reinterpret_cast<const char*>(old_bytes.data()),
             static_cast<std::streamsize>(old_bytes.size()));

  PtyPair pty = OpenPtyPair();
  fs::create_symlink(pty.slave_path, link);
  HostPortProvider ports([&] { return std::vector<std::string>{link}; },
                         (outside / "lock").string());
  MonotonicClock window_clock;
  PosixVolume volume(root.string());
  auto owned_form = std::make_unique<TMainForm>(window_clock, ports, volume);
  TMainForm& form = *owned_form;
  form.show();

  std::atomic<bool> serving = false, lost = false, back = false, c64_done = false;
  peer::LoadResult after;
  std::thread c64([&] {
    if (!Waited(serving)) {
      c64_done = true;
      return;
    }
    auto port = TermiosPort::Adopt(dup(pty.master));
    auto unplug = [&] {
      // The peer's copy of the master becomes /dev/null, so the pair really closes.
      const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
      dup2(null, port->InputDescriptor());
      close(null);
      ClosePtyPair(pty);
      fs::remove(link);
    };
    MonotonicClock clock;
    peer::PeerOptions options;
    options.ReplyTimeoutMs = 500;
    int blocks = 0;
    options.Progress = [&](std::uint64_t, std::optional<std::uint64_t>) {
      if (++blocks == 3) unplug();
    };
    peer::C64Peer peer(*port, clock, options);
    switch (GetParam()) {
      case When::kIdle:
        unplug();
        break;
      case When::kLoad:
        peer.Load("game.prg");
        break;
      case When::kSave:
        peer.Save("game.prg", Bytes(30 * 255, 0xEE));
        break;
    }
    if (Waited(lost)) {
      pty = OpenPtyPair();
      fs::create_symlink(pty.slave_path, link);
      if (Waited(back)) {
        auto new_port = TermiosPort::Adopt(dup(pty.master));
        options.Progress = nullptr;
        peer::C64Peer new_peer(*new_port, clock, options);
        after = new_peer.Load("game.prg");
      }
    }
    c64_done = true;
  });

  const std::string lost_line = "Port lost: " + link + ": hung up";
  const std::string back_line = "Port back: " + link;
  bool quit = false;
  std::size_t pending_at_back = 99;
  std::vector<std::string> titles;  // each title the window showed, in turn
  QTimer hand;
  QObject::connect(&hand, &QTimer::timeout, [&] {
    const std::string title = form.windowTitle().toStdString();
    if (titles.empty() || titles.back() != title) titles.push_back(title);
    if (form.State() == FormState::Serving) serving = true;
    const QString text = form.Memo1->toPlainText();
    lost = lost || text.contains(QString::fromStdString(lost_line));
    if (!back && text.contains(QString::fromStdString(back_line))) {
      std::size_t pending = 0;
      for (const auto& entry : fs::directory_iterator(root)) {
        if (entry.path().filename().string().rfind(PendingFilePrefix, 0) == 0) ++pending;
      }
      pending_at_back = pending;
      back = true;
    }
    if (c64_done && !quit) {
      quit = true;
      form.btnQuit1->click();
    }
  });
  hand.start(5);

  const int exit_code = RunWindowFromStart(form, 30000);
  c64.join();

  EXPECT_EQ(exit_code, 0);
  EXPECT_TRUE(lost);
  EXPECT_TRUE(back);
  EXPECT_EQ(pending_at_back, 0u);
  const std::string lost_title = "Dorvane V5.1 Port lost: " + link;
  EXPECT_NE(std::find(titles.begin(), titles.end(), lost_title), titles.end());
  EXPECT_NE(form.windowTitle().toStdString(), lost_title) << "still lost after it came back";
  ASSERT_TRUE(after.Succeeded) << after.Describe();
  EXPECT_EQ(after.Data, old_bytes);
  std::ifstream kept(root / "game.prg", std::ios::binary);
  EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(kept), std::istreambuf_iterator<char>()),
            old_bytes);

  std::vector<std::string> lines;
  for (const QString& line : form.Memo1->toPlainText().split('\n'))
    lines.push_back(line.toStdString());
  const auto at = std::find(lines.begin(), lines.end(), lost_line);
  const auto back_at = std::find(at, lines.end(), back_line);
  ASSERT_NE(back_at, lines.end());
  ASSERT_NE(back_at + 1, lines.end());
  // No wait for the C64 while the port is away; it starts over once it is back.
  EXPECT_EQ(std::find(at, back_at, "Waiting for command from C64..."), back_at);
  EXPECT_EQ(*(back_at + 1), "Waiting for command from C64...");
  EXPECT_EQ(lines.back(), " terminated!");
  // The device that came back is locked (its number may be the lost one's).
  const fs::path new_lock = outside / "lock" / LockFileName(link);
  EXPECT_TRUE(fs::exists(new_lock)) << "the lock is held while the window lives";
  owned_form.reset();
  EXPECT_FALSE(fs::exists(new_lock)) << "the lock outlived the window";
  ClosePtyPair(pty);
  fs::remove_all(outside);
}

INSTANTIATE_TEST_SUITE_P(Cable, WindowPortLost,
                         ::testing::Values(When::kIdle, When::kLoad, When::kSave),
                         testing::WhenName);

}  // namespace
}  // namespace dorvane
