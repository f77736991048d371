// The C64's own drive program (c64/) run on sim65 against a real `dorvaned
// --stdio`: the protocol core as dorvane-sim.prg (load, save, listing, disk
// commands, damaged packets, RUN/STOP, a server that goes away), the KERNAL hooks
// as hooktest.prg, the "@" wedge as wedge_test.prg, and the cartridge's receive
// loop as cycles.prg. The test
// relays the bytes between the two, so that it can damage them and see them.
// Skipped when cc65's sim65 is not installed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "formats/cbm_disk.h"
#include "formats/cbm_names.h"
#include "link/monotonic_clock.h"
#include "ports/termios_port.h"
#include "tests/e2e/served_session.h"
#include "tests/e2e/server_process.h"
#include "tools/peer/c64_peer.h"

namespace dorvane::e2e {
namespace {

namespace fs = std::filesystem;

#ifdef DORVANE_SIM65
const std::string kSim65 = DORVANE_SIM65;
const fs::path kC64Dir = DORVANE_C64_DIR;
#else
const std::string kSim65;
const fs::path kC64Dir;
#endif

// What the relay does to the server's bytes on their way to the C64, by their
// offset in the server's stream.
struct Relay {
  bool (*flip)(std::size_t) = nullptr;  // bit 0 of this byte is flipped
  std::size_t cut_after = 0;            // not 0: the line goes after so many bytes
};

struct SimRun {
  int status = -1;  // the program's exit status
  Bytes to_server;  // what the C64 said
};

// How often a three-byte status packet occurs in what the C64 said.
int CountStatus(const Bytes& said, std::uint8_t b0, std::uint8_t b1, std::uint8_t b2) {
  int count = 0;
  for (std::size_t i = 0; i + 2 < said.size(); ++i) {
    if (said[i] == b0 && said[i + 1] == b1 && said[i + 2] == b2) ++count;
  }
  return count;
}
constexpr std::uint8_t kRepeat[] = {0x82, 0x00, 0xBE};
constexpr std::uint8_t kAbort[] = {0x89, 0x00, 0x9D};

bool WriteAll(int fd, const std::uint8_t* data, std::size_t count) {
  while (count > 0) {
    const ssize_t n = write(fd, data, count);
    if (n <= 0) return false;
    data += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

class C64ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (kSim65.empty()) GTEST_SKIP() << "sim65 (cc65) is not installed";
    signal(SIGPIPE, SIG_IGN);
    std::string pattern = (fs::temp_directory_path() / "dorvane-c64-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    root_ = dir_ / "served";
    fs::create_directory(root_);
  }

  void TearDown() override {
    server_.reset();
    if (server_fd_ >= 0) close(server_fd_);
    std::error_code ignored;
    if (!dir_.empty()) fs::remove_all(dir_, ignored);
  }

  void StartServer() {
    int ends[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
    server_ = std::make_unique<ServerProcess>(
        std::string(DORVANE_BIN_DIR) + "/dorvaned",
        std::vector<std::string>{"--stdio", "--root", root_.string(), "--allow-delete"},
        FileAccess::kAsTheTests, ends[1]);
    close(ends[1]);
    server_fd_ = ends[0];
  }

  // Runs `program` (in build/c64) on sim65 with `args`, its standard input and
  // output relayed to the server.
  SimRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                    const Relay& relay = {}) {
    SimRun run;
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
      ADD_FAILURE() << "socketpair";
      return run;
    }
    std::vector<std::string> words = {kSim65, (kC64Dir / program).string()};
    words.insert(words.end(), args.begin(), args.end());
    const pid_t pid = fork();
    if (pid == 0) {
      // A write to a line that is gone must fail, not kill the simulator.
      signal(SIGPIPE, SIG_IGN);
      dup2(ends[1], 0);
      dup2(ends[1], 1);
      std::vector<char*> argv;
      for (std::string& word : words) argv.push_back(word.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(ends[1]);
    int c64 = ends[0];
    std::size_t from_server = 0;
    const auto deadline = std::chrono::steady_clock::now() + Patience * 3;
    std::uint8_t buffer[4096];
    const auto take_from_c64 = [&] {
      const ssize_t n = read(c64, buffer, sizeof buffer);
      if (n <= 0) return false;
      run.to_server.insert(run.to_server.end(), buffer, buffer + n);
      WriteAll(server_fd_, buffer, static_cast<std::size_t>(n));
      return true;
    };
    for (;;) {
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid) {
        // What it said last (the stEndOfFile of a save) still goes to the server.
        if (c64 >= 0) {
          fcntl(c64, F_SETFL, O_NONBLOCK);
          while (take_from_c64()) {
          }
        }
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        break;
      }
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        ADD_FAILURE() << program << " did not end";
        break;
      }
      pollfd fds[2] = {{c64, POLLIN, 0}, {server_fd_, POLLIN, 0}};
      if (poll(fds, c64 >= 0 ? 2 : 0, 20) <= 0) continue;
      if (fds[0].revents & (POLLIN | POLLHUP)) take_from_c64();
      if (fds[1].revents & POLLIN) {
        const ssize_t n = read(server_fd_, buffer, sizeof buffer);
        for (ssize_t i = 0; i < n && c64 >= 0; ++i, ++from_server) {
          if (relay.cut_after != 0 && from_server >= relay.cut_after) {
            close(c64);  // the line goes: the program reads its end
            c64 = -1;
            break;
          }
          if (relay.flip && relay.flip(from_server)) buffer[i] ^= 0x01;
          WriteAll(c64, buffer + i, 1);
        }
      }
    }
    if (c64 >= 0) close(c64);
    return run;
  }

  SimRun Sim(const std::vector<std::string>& args, const Relay& relay = {}) {
    return RunProgram("dorvane-sim.prg", args, relay);
  }

  void Put(const std::string& name, const Bytes& data) {
    std::ofstream out(root_ / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
  }
  static Bytes Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  fs::path Local(const std::string& name) const { return dir_ / name; }

  fs::path dir_;
  fs::path root_;
  std::unique_ptr<ServerProcess> server_;
  int server_fd_ = -1;
};

// The server's stream of a load: the echo, the stOk of the open, then one data
// packet of 259 bytes for every full block (repeats included).
constexpr std::size_t kFirstBlock = 1 + 3;
bool InPayload(std::size_t offset, std::size_t block, std::size_t byte) {
  return offset == kFirstBlock + block * 259 + 3 + byte;
}

TEST_F(C64ProgramTest, LoadsEveryFileByteForByte) {
  const Bytes big = RandomBytes(30000, 22);
  Put("big.prg", big);
  Put("empty.prg", {});
  const Bytes two_blocks = RandomBytes(510, 23);  // ends on a block's edge
  Put("two.prg", two_blocks);
  ASSERT_NO_FATAL_FAILURE(StartServer());

  struct Case {
    std::string name;
    int status;
    Bytes data;
  };
  const Case cases[] = {
      {"big.prg", 0, big},        {"BIG.PRG", 0, big},   {"empty.prg", 0, {}},
      {"two.prg", 0, two_blocks}, {"nothere", 0x83, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(Local("out"));
    const SimRun run = Sim({"load", c.name, Local("out").string()});
    EXPECT_EQ(run.status, c.status);
    if (c.status == 0) {
      EXPECT_EQ(Read(Local("out")), c.data);
    }
  }
}

TEST_F(C64ProgramTest, ListingIsWhatThePeerGets) {
  Put("hello.txt", RandomBytes(1000, 1));
  Put("game.prg", RandomBytes(5000, 2));
  fs::create_directory(root_ / "games");
  // 40 entries: the image runs over several packets.
  for (int i = 0; i < 40; ++i) {
    std::string name = "f";
    name += std::to_string(i);
    Put(name, RandomBytes(i * 100, 3));
  }
  ASSERT_NO_FATAL_FAILURE(StartServer());
  const SimRun run = Sim({"dir", Local("dir").string()});
  ASSERT_EQ(run.status, 0);

  int ends[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
  ServerProcess other(std::string(DORVANE_BIN_DIR) + "/dorvaned",
                      {"--stdio", "--root", root_.string()}, FileAccess::kAsTheTests, ends[1]);
  close(ends[1]);
  auto port = TermiosPort::Adopt(ends[0]);
  MonotonicClock clock;
  peer::C64Peer peer(*port, clock);
  const peer::LoadResult listing = peer.Directory();
  ASSERT_TRUE(listing.Succeeded) << listing.Describe();
  EXPECT_GT(listing.Data.size(), 255u * 4);
  EXPECT_EQ(Read(Local("dir")), listing.Data);
}

TEST_F(C64ProgramTest, SavesEveryLengthByteForByte) {
  ASSERT_NO_FATAL_FAILURE(StartServer());
  for (const std::size_t size : {std::size_t{0}, std::size_t{255}, std::size_t{3000}}) {
    SCOPED_TRACE(size);
    const Bytes data = RandomBytes(size, static_cast<std::uint32_t>(size));
    std::ofstream(Local("in"), std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(size));
    std::string name = "saved";
    name += std::to_string(size) + ".prg";
    EXPECT_EQ(Sim({"save", Local("in").string(), name}).status, 0);
    // The stEndOfFile goes unanswered; the next request shows it was taken.
    EXPECT_EQ(Sim({"cmd", "c:."}).status, 0);
    EXPECT_EQ(Read(root_ / name), data);
  }
}

TEST_F(C64ProgramTest, DiskCommandsGetTheServersStatus) {
  Put("a.prg", TextBytes("a"));
  ASSERT_NO_FATAL_FAILURE(StartServer());
  struct Case {
    std::string text;
    int status;
    std::string exists;  // below the root afterwards; "" for nothing to check
    std::string gone;
  };
  const Case cases[] = {
      {"m:work", 0, "work", ""},
      {"r:b.prg=a.prg", 0, "b.prg", "a.prg"},
      {"r:x.prg=nothere", 0x85, "", "x.prg"},
      {"c:work", 0, "", ""},
      {"m:inner", 0, "work/inner", ""},
      {"c:..", 0, "", ""},
      {"s:b.prg", 0, "", "b.prg"},
      {"s:b.prg", 0x84, "", ""},
      {"c:nowhere", 0xFF, "", ""},
      {"cd", 0xFF, "", ""},  // no colon: refused as malformed
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Sim({"cmd", c.text}).status, c.status);
    if (!c.exists.empty()) {
      EXPECT_TRUE(fs::exists(root_ / c.exists));
    }
    if (!c.gone.empty()) {
      EXPECT_FALSE(fs::exists(root_ / c.gone));
    }
  }
}

TEST_F(C64ProgramTest, DamagedBlocksAreAskedForAgain) {
  const Bytes data = RandomBytes(3000, 7);
  Put("data.prg", data);
  ASSERT_NO_FATAL_FAILURE(StartServer());
  struct Case {
    std::string what;
    bool (*flip)(std::size_t);
    int status;
    int repeats;  // stRepeat the C64 sent
    int aborts;   // stAbort the C64 sent
  };
  const Case cases[] = {
      {"one payload byte", [](std::size_t at) { return InPayload(at, 1, 100); }, 0, 1, 0},
      {"one payload CRC byte", [](std::size_t at) { return InPayload(at, 2, 255); }, 0, 1, 0},
      // Every packet a block stream carries is damaged: the C64 gives up after
      // three tries and tells the server.
      {"every block",
       [](std::size_t at) { return at >= kFirstBlock && (at - kFirstBlock) % 259 == 10; }, 0x82, 3,
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(Local("out"));
    const SimRun run = Sim({"load", "data.prg", Local("out").string()}, Relay{c.flip});
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(CountStatus(run.to_server, kRepeat[0], kRepeat[1], kRepeat[2]), c.repeats);
    EXPECT_EQ(CountStatus(run.to_server, kAbort[0], kAbort[1], kAbort[2]), c.aborts);
    if (c.status == 0) {
      EXPECT_EQ(Read(Local("out")), data);
    }
  }
  // The server is serving as before.
  EXPECT_EQ(Sim({"load", "data.prg", Local("out").string()}).status, 0);
  EXPECT_EQ(Read(Local("out")), data);
}

TEST_F(C64ProgramTest, RunStopMidSaveLeavesTheHostFileAsItWas) {
  const Bytes old = RandomBytes(700, 8);
  Put("keep.prg", old);
  const Bytes fresh = RandomBytes(2000, 9);
  std::ofstream(Local("in"), std::ios::binary)
      .write(reinterpret_cast<const char*>(fresh.data()),
             static_cast<std::streamsize>(fresh.size()));
  ASSERT_NO_FATAL_FAILURE(StartServer());

  // RUN/STOP goes down before the third block.
  const SimRun run = Sim({"save", Local("in").string(), "keep.prg", "3"});
  EXPECT_EQ(run.status, 0x89);
  ASSERT_GE(run.to_server.size(), 3u);
  EXPECT_TRUE(std::equal(std::begin(kAbort), std::end(kAbort), run.to_server.end() - 3));
  EXPECT_EQ(Sim({"load", "keep.prg", Local("out").string()}).status, 0);
  EXPECT_EQ(Read(Local("out")), old);
  EXPECT_EQ(Read(root_ / "keep.prg"), old);
}

TEST_F(C64ProgramTest, ServerThatGoesAwayEndsTheRequest) {
  Put("big.prg", RandomBytes(30000, 10));
  ASSERT_NO_FATAL_FAILURE(StartServer());
  for (const std::size_t cut : {std::size_t{1}, std::size_t{600}}) {  // before the echo, mid-load
    SCOPED_TRACE(cut);
    const SimRun run = Sim({"load", "big.prg", Local("out").string()}, Relay{{}, cut});
    EXPECT_EQ(run.status, 0xFE);
  }
}

// The hooks' report: carry, A, end address, ST, start used, the three KERNAL
// messages called and whether the device was handed on.
struct HookReport {
  unsigned carry = 0, a = 0, end = 0, st = 0, start = 0, searching = 0, loading = 0, saving = 0,
           passed = 0;
};

TEST_F(C64ProgramTest, KernalHooksLeaveWhatTheKernalLeaves) {
  // Program files: their start address $4100, then their bytes. Beforehand the
  // harness's memory holds i * 7 + 3 at $4000 + i; "same.prg" holds just that.
  const auto pattern = [](unsigned from, std::size_t count) {
    Bytes bytes;
    for (unsigned i = from; i < from + count; ++i)
      bytes.push_back(static_cast<std::uint8_t>(i * 7 + 3));
    return bytes;
  };
  const Bytes body = RandomBytes(1500, 11);
  const auto program = [](const Bytes& data) {
    Bytes file = {0x00, 0x41};
    file.insert(file.end(), data.begin(), data.end());
    return file;
  };
  Put("game.prg", program(body));
  Put("same.prg", program(pattern(0x100, body.size())));
  // Over the C64's $C000-$CFFF, where the program itself lives: $BF00-$BFFF loads.
  Bytes high = {0x00, 0xBF};
  const Bytes high_body = RandomBytes(512, 13);
  high.insert(high.end(), high_body.begin(), high_body.end());
  Put("high.prg", high);
  Bytes high_kept(high_body.begin(), high_body.begin() + 256);
  const Bytes untouched = pattern(0x8000, 256);
  high_kept.insert(high_kept.end(), untouched.begin(), untouched.end());
  ASSERT_NO_FATAL_FAILURE(StartServer());

  const std::string m = Local("m").string();
  const auto hook = [&](const std::vector<std::string>& args, const Relay& relay = {}) {
    const SimRun run = RunProgram("hooktest.prg", args, relay);
    EXPECT_EQ(run.status, 0);
    std::ifstream in(Local("m.txt"));
    HookReport r;
    in >> std::hex >> r.carry >> r.a >> r.end >> r.st >> r.start >> r.searching >> r.loading >>
        r.saving >> r.passed;
    return r;
  };
  const auto every_block = [](std::size_t at) {
    return at >= kFirstBlock && (at - kFirstBlock) % 259 == 10;
  };
  struct Case {
    std::string what;
    std::vector<std::string> args;
    Relay relay;
    unsigned carry, a, start, st, passed;  // `a` only with the carry set
    Bytes memory;                          // at `start` afterwards, up to the end address
  };
  const Case cases[] = {
      // LOAD"GAME",8,1: at the file's own address; ST says end of file.
      {"own address", {"load", "GAME.PRG", "8", "1", "5000", m}, {}, 0, 0, 0x4100, 0x40, 0, body},
      // LOAD"GAME",8: where BASIC asked.
      {"given address", {"load", "GAME.PRG", "8", "0", "6000", m}, {}, 0, 0, 0x6000, 0x40, 0, body},
      // VERIFY compares and stores nothing; a difference sets ST's bit 4.
      {"verify differs",
       {"verify", "GAME.PRG", "8", "1", "5000", m},
       {},
       0,
       0,
       0x4100,
       0x50,
       0,
       pattern(0x100, body.size())},
      {"verify same",
       {"verify", "SAME.PRG", "8", "1", "5000", m},
       {},
       0,
       0,
       0x4100,
       0x40,
       0,
       pattern(0x100, body.size())},
      {"over the program",
       {"load", "HIGH.PRG", "8", "1", "5000", m},
       {},
       0,
       0,
       0xBF00,
       0x50,
       0,
       high_kept},
      {"no such file", {"load", "NOPE", "8", "1", "5000", m}, {}, 1, 4, 0x5000, 0, 0, {}},
      // Damaged beyond repair from the first block on: ST's bit 4, so BASIC says
      // LOAD ERROR, and nothing was loaded.
      {"damaged",
       {"load", "GAME.PRG", "8", "1", "5000", m},
       {every_block},
       0,
       0,
       0x5000,
       0x50,
       0,
       {}},
      // Another device goes to the vector found at install.
      {"other device", {"load", "GAME.PRG", "9", "1", "5000", m}, {}, 0, 0, 0x5000, 0, 1, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(Local("m"));
    const HookReport r = hook(c.args, c.relay);
    EXPECT_EQ(r.carry, c.carry);
    EXPECT_EQ(r.passed, c.passed);
    if (c.passed) continue;
    if (c.carry) {
      EXPECT_EQ(r.a, c.a);  // the KERNAL's error number
    }
    EXPECT_EQ(r.start, c.start);
    EXPECT_EQ(r.st, c.st);
    EXPECT_EQ(r.searching, 1u);
    if (c.carry) continue;
    if (c.memory.empty()) {
      EXPECT_EQ(r.end, c.start);
      continue;
    }
    EXPECT_EQ(r.loading, 1u);
    EXPECT_EQ(r.end, c.start + c.memory.size());
    EXPECT_EQ(Read(Local("m")), c.memory);
  }

  // SAVE of $4010-$43FF: the start address, then the memory (i * 7 + 3 at $4000 + i).
  const HookReport saved = hook({"save", "WORK", "8", "4010", "4400", m});
  EXPECT_EQ(saved.carry, 0u);
  EXPECT_EQ(saved.saving, 1u);
  Bytes expected = {0x10, 0x40};
  const Bytes saved_memory = pattern(0x10, 0x3F0);
  expected.insert(expected.end(), saved_memory.begin(), saved_memory.end());
  EXPECT_EQ(Sim({"cmd", "c:."}).status, 0);  // the save's end was taken
  EXPECT_EQ(Read(root_ / "work"), expected);
  EXPECT_EQ(hook({"save", "WORK", "9", "4010", "4400", m}).passed, 1u);
}

// The "@" wedge, typed in direct mode: what it prints, and what it sent.
TEST_F(C64ProgramTest, WedgePrintsOutcomesAndTheListing) {
  Put("a.prg", RandomBytes(600, 12));
  fs::create_directory(root_ / "games");
  ASSERT_NO_FATAL_FAILURE(StartServer());
  const auto typed = [&](const std::string& line) {
    fs::remove(Local("screen"));
    SimRun run = RunProgram("wedge_test.prg", {">" + line, Local("screen").string()});
    EXPECT_EQ(run.status, 0);
    const Bytes screen = Read(Local("screen"));
    return std::make_pair(std::string(screen.begin(), screen.end()), run.to_server);
  };

  // @$ shows the lines LIST would show, from the listing the C64 loads.
  ASSERT_EQ(Sim({"dir", Local("dir").string()}).status, 0);
  std::string listed;
  for (const auto& [number, text] : ListedLines(Read(Local("dir")))) {
    listed += std::to_string(number) + " " + text + "\r";
  }
  EXPECT_EQ(typed("@$").first, listed);

  struct Case {
    std::string line;
    std::string screen;
    bool sent;  // the line reached the server
  };
  const Case cases[] = {
      {"@M:WORK", "OK\r", true},
      {"@M:WORK", "?COMMAND ERROR\r", true},  // it exists: stError
      {"@R:B.PRG=A.PRG", "OK\r", true},
      {"@R:B.PRG=A.PRG", "?RENAME ERROR\r", true},
      {"@S:NOPE", "?DELETE ERROR\r", true},
      // A letter the server would never answer is refused here.
      {"@X:Y", "?SYNTAX ERROR\r", false},
      {"@#9", "DORVANE: DEVICE 9\r", false},
      {"@#99", "?SYNTAX ERROR\r", false},
      {"@Q", "Q", false},  // the harness's removal prints "Q"
      {"PRINT 1", "<BASIC>", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const auto [screen, said] = typed(c.line);
    EXPECT_EQ(screen, c.screen);
    EXPECT_EQ(!said.empty(), c.sent);
  }
  EXPECT_TRUE(fs::is_directory(root_ / "work"));
  EXPECT_TRUE(fs::exists(root_ / "b.prg"));
}

// The disk for a C64 with any drive holds the program as it was built, under the
// name the README gives: LOAD"DORVANE",8.
TEST_F(C64ProgramTest, DiskHoldsTheProgram) {
  const Bytes program = Read(kC64Dir / "dorvane.prg");
  Bytes image = Read(kC64Dir / "dorvane.d64");
  const auto geometry = DiskGeometry::ForImage(".d64", image.size());
  ASSERT_TRUE(geometry);
  const CbmDisk disk(*geometry, std::move(image));
  bool damaged = true;
  const std::vector<CbmDirEntry> entries = disk.Directory(damaged);
  ASSERT_FALSE(damaged);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(ShownCbmName(entries[0].Name), "DORVANE");
  EXPECT_EQ(entries[0].FileType(), CbmPrg);
  Bytes stored;
  ASSERT_EQ(disk.ReadChain(entries[0].Track, entries[0].Sector, stored), ChainStatus::Ok);
  EXPECT_EQ(stored, program);
}

// The cartridge's receive loop, counted by sim65: the cost of a byte that is
// already waiting at the ACIA. A byte comes every 85 cycles at 115200 baud.
TEST_F(C64ProgramTest, ReceiveLoopTakesUnderFiftyCyclesAByte) {
  const auto cycles = [&](int packets) {
    const std::string command = kSim65 + " -c " + (kC64Dir / "cycles.prg").string() + " " +
                                std::to_string(packets) + " 2>&1";
    FILE* out = popen(command.c_str(), "r");
    EXPECT_NE(out, nullptr);
    long long count = -1;
    if (out) {
      if (std::fscanf(out, "%lld", &count) != 1) count = -1;
      pclose(out);
    }
    return count;
  };
  const long long none = cycles(0);
  const long long many = cycles(40);
  ASSERT_GT(none, 0);
  ASSERT_GT(many, none);
  const double per_byte = static_cast<double>(many - none) / (40 * 256);
  std::printf("receive loop: %.1f cycles a byte\n", per_byte);
  RecordProperty("cycles_per_byte", std::to_string(per_byte));
  EXPECT_LT(per_byte, 50.0);
  EXPECT_GT(per_byte, 20.0);  // a loop that skipped its work would be too cheap
}

}  // namespace
}  // namespace dorvane::e2e
