// The window as the operator uses it, serving a real directory over a pseudo-
// terminal: Start, a load fetched by the C64 (played by the peer library on a
// thread of its own), the progress bar following it and naming it, then Quit.
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
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "link/monotonic_clock.h"
#include "ports/host_ports.h"
#include "ports/pty_pair.h"
#include "ports/termios_port.h"
#include "storage/posix_volume.h"
#include "tests/e2e_ui/window_run.h"
#include "tools/peer/c64_peer.h"
#include "ui/main_form.h"

namespace dorvane {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

struct TempRoot {
  TempRoot() {
    std::string pattern = (fs::temp_directory_path() / "dorvane-window-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path = pattern;
  }
  ~TempRoot() {
    std::error_code ignored;
    if (!path.empty()) fs::remove_all(path, ignored);
  }
  fs::path path;
};

std::vector<std::string> LogLines(const TMainForm& form) {
  std::vector<std::string> lines;
  for (const QString& line : form.Memo1->toPlainText().split('\n'))
    lines.push_back(line.toStdString());
  return lines;
}

TEST(WindowServes, StartLoadWithProgressAndQuit) {
  TempRoot root;
  ASSERT_FALSE(root.path.empty());
  // 700 bytes go as 255 + 255 + 190: the bar shows 36, 73 and 100.
  Bytes data(700);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 37 + 11);
  std::ofstream(root.path / "prog.prg", std::ios::binary)
      .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));

  PtyPair pty = OpenPtyPair();
  const std::string device = pty.slave_path;
  // The host's own provider, whose first port is the pseudo-terminal's slave.
  HostPortProvider ports([&] { return std::vector<std::string>{pty.slave_path}; });
  MonotonicClock window_clock;
  PosixVolume volume(root.path.string());
  TMainForm form(window_clock, ports, volume);
  form.show();

  struct Shown {
    int value;
    bool enabled;
    QString text;  // what the bar said up to this move
  };
  std::vector<Shown> shown;
  QObject::connect(form.ProgressBar1, &QProgressBar::valueChanged, [&](int value) {
    shown.push_back({value, form.ProgressBar1->isEnabled(), form.ProgressBar1->text()});
  });

  // The C64: it waits until the window serves, loads, and tells the window's
  // thread it is done. Every wait of it is bounded by the peer's reply limit.
  std::promise<void> serving;
  std::atomic<bool> c64_done = false;
  peer::LoadResult load;
  std::thread c64([&, ready = serving.get_future()] {
    if (ready.wait_for(std::chrono::seconds(10)) == std::future_status::ready) {
      auto port = TermiosPort::Adopt(dup(pty.master));
      MonotonicClock clock;
      peer::C64Peer peer(*port, clock);
      load = peer.Load("prog.prg");
    }
    c64_done = true;
  });

  // The operator's hand, run from the window's event loop, which the server keeps
  // turning while it waits for bytes.
  bool released = false, quit = false;
  QTimer hand;
  QObject::connect(&hand, &QTimer::timeout, [&] {
    if (!released && form.State() == FormState::Serving) {
      released = true;
      serving.set_value();
    }
    // Only once the window is back at waiting: the C64 hears the end of the load
    // while the window's thread may still be sending it.
    if (c64_done && !quit && !form.ProgressBar1->isEnabled()) {
      quit = true;
      form.btnQuit1->click();
    }
  });
  hand.start(5);

  const int exit_code = RunWindowFromStart(form, 20000);
  if (!released) serving.set_value();
  c64.join();
  ClosePtyPair(pty);

  EXPECT_EQ(exit_code, 0);
  EXPECT_TRUE(quit);
  ASSERT_TRUE(load.Succeeded) << load.Describe();
  EXPECT_EQ(load.Data, data);

  // Each block moved the bar; back at waiting it drops to 0 and is greyed out.
  std::vector<int> values;
  for (const Shown& s : shown) values.push_back(s.value);
  EXPECT_EQ(values, (std::vector<int>{36, 73, 100, 0}));
  for (const Shown& s : shown) EXPECT_TRUE(s.enabled) << s.value;
  EXPECT_FALSE(form.ProgressBar1->isEnabled());
  // The words follow each block a step behind the bar: 0 of 700, 255, 510, all.
  const char* const said[] = {"prog.prg  0%", "prog.prg  36%", "prog.prg  72%", "prog.prg  100%"};
  ASSERT_EQ(shown.size(), std::size(said));
  for (std::size_t i = 0; i < shown.size(); ++i) {
    EXPECT_TRUE(shown[i].text.startsWith(said[i])) << shown[i].text.toStdString();
  }
  EXPECT_FALSE(form.ProgressBar1->isTextVisible());

  const auto lines = LogLines(form);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Initialising port " + device), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Sending file:prog.prg"), lines.end());
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), " terminated!");
  EXPECT_FALSE(form.isVisible());
}

}  // namespace
}  // namespace dorvane
