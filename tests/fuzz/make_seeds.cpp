// Writes the server fuzzer's seed corpus: whole, well-formed sessions of every kind
// of request against the fuzzer's served root, and the faults the link must survive
// (time-outs, stalled writes, damaged packets, names that try to leave the root).
// From these the fuzzer mutates its way into the corners.
//
//   dorvane_fuzz_seeds DIRECTORY
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "link/wire_format.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/support/fakes.h"

namespace {

namespace fs = std::filesystem;
using namespace dorvane;
using namespace dorvane::fuzzing;
using Bytes = std::vector<std::uint8_t>;

// One session in the fuzzer's input layout.
class Seed {
 public:
  explicit Seed(std::uint8_t options = OptionDeleteProtection) { bytes_.push_back(options); }

  Seed& Send(const Bytes& line) {
    for (std::size_t at = 0; at < line.size(); at += MaxDataRecord) {
      const std::size_t count = std::min(MaxDataRecord, line.size() - at);
      bytes_.push_back(static_cast<std::uint8_t>(count - 1));
      bytes_.insert(bytes_.end(), line.begin() + static_cast<long>(at),
                    line.begin() + static_cast<long>(at + count));
    }
    return *this;
  }
  Seed& Silence(std::uint32_t ms) {
    bytes_.push_back(SilenceRecord(ms));
    return *this;
  }
  Seed& Stall(int attempts) {
    bytes_.push_back(StallRecord(attempts));
    return *this;
  }

  // The attention byte and a request packet; names travel as the C64 types them
  // (unshifted letters arrive as 0x41-0x5A and reach the host in lower case).
  Seed& Request(std::uint8_t type, const std::string& name) {
    Send({ptAttention});
    return Send(testing::PacketBytes(type, name));
  }
  Seed& Status(std::uint8_t code) { return Send(testing::StatusBytes(code)); }
  Seed& Data(const Bytes& payload) { return Send(testing::PacketBytes(ptData, payload)); }

  // A load or listing fetched to its end: every block asked for with stOk.
  Seed& Load(const std::string& name, int blocks) {
    Request(ptLoad, name);
    for (int i = 0; i <= blocks; ++i) Status(stOk);
    return *this;
  }
  // A save of `size` bytes in blocks of 255, closed with stEndOfFile.
  Seed& Save(const std::string& name, std::size_t size) {
    Request(ptSave, name);
    for (std::size_t at = 0; at < size; at += 255) {
      Data(Content(std::min<std::size_t>(255, size - at), static_cast<unsigned>(at)));
    }
    return Status(stEndOfFile);
  }
  Seed& Command(const std::string& text) { return Request(ptCommand, text); }
  // A load or save the server refuses with stOpenError: the C64 then stops.
  Seed& Refused(std::uint8_t type, const std::string& name) { return Request(type, name); }

  const Bytes& Encoded() const { return bytes_; }

  static Bytes Content(std::size_t size, unsigned seed) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 13 + seed);
    return bytes;
  }

 private:
  Bytes bytes_;
};

struct NamedSeed {
  const char* name;
  Seed seed;
};

std::vector<NamedSeed> AllSeeds() {
  std::vector<NamedSeed> seeds;
  const auto add = [&](const char* name, Seed seed) { seeds.push_back({name, std::move(seed)}); };

  // Loads: found, missing, by wildcard, by alternate name, below and outside the root.
  add("load-file", Seed().Load("GAME.PRG", 3));
  add("load-missing", Seed().Refused(ptLoad, "NOPE.PRG"));
  add("load-wildcard", Seed().Load("G*", 3).Load("*.*", 1));
  add("load-alternate-name", Seed().Load("A-NAME~1.PRG", 2));
  add("load-path", Seed().Load("SUB/INNER.PRG", 1).Load("SUB/UP/README.PRG", 1));
  add("load-outside", Seed()
                          .Refused(ptLoad, "../SENTINEL.PRG")
                          .Refused(ptLoad, "OUT-FILE")
                          .Refused(ptLoad, "OUT-DIR/KEEP.PRG"));
  add("load-odd-entries",
      Seed().Refused(ptLoad, "PIPE").Refused(ptLoad, "DANGLING").Load("EMPTY.PRG", 0));
  add("load-repeat-abort", Seed()
                               .Request(ptLoad, "GAME.PRG")
                               .Status(stOk)
                               .Status(stRepeat)
                               .Status(stOk)
                               .Status(stAbort));

  // The listing, fetched whole, repeated, abandoned, and below the root.
  add("listing", Seed().Load("$", 3));
  add("listing-repeat-abort",
      Seed().Request(ptLoad, "$").Status(stOk).Status(stRepeat).Status(stAbort));
  add("listing-below-root", Seed().Command("C:SUB").Load("$", 2));

  // Saves: new, replacing, aborted, refused, damaged on the way, and outward bound.
  add("save-new", Seed().Save("NEW.PRG", 300));
  add("save-replace", Seed().Save("README.PRG", 10).Save("dup.prg", 3));
  add("save-empty", Seed().Save("EMPTY2.PRG", 0));
  add("save-abort", Seed().Request(ptSave, "GAME.PRG").Data(Seed::Content(255, 1)).Status(stAbort));
  add("save-refused", Seed()
                          .Refused(ptSave, "LOCKED.PRG")
                          .Refused(ptSave, "SUB")
                          .Refused(ptSave, "*")
                          .Refused(ptSave, "PIPE"));
  add("save-outside", Seed()
                          .Refused(ptSave, "OUT-FILE")
                          .Refused(ptSave, "OUT-DIR/KEEP.PRG")
                          .Save("../SENTINEL.PRG", 5)
                          .Save("/../../X.PRG", 5));
  {
    Bytes damaged = testing::PacketBytes(ptData, Seed::Content(100, 3));
    damaged.back() ^= 0x5A;
    add("save-damaged-block", Seed()
                                  .Request(ptSave, "NEW.PRG")
                                  .Send(damaged)
                                  .Data(Seed::Content(100, 3))
                                  .Status(stRepeat)
                                  .Status(stEndOfFile));
  }
  add("save-interrupted", Seed()
                              .Request(ptSave, "GAME.PRG")
                              .Data(Seed::Content(255, 4))
                              .Send({ptAttention})
                              .Send(testing::PacketBytes(ptLoad, "GAME.PRG")));

  // Disk commands, with and without delete protection.
  add("cmd-change-dir", Seed()
                            .Command("C:SUB")
                            .Command("C:DEEPER")
                            .Command("C:..")
                            .Command("C:/")
                            .Command("C:")
                            .Command("C:OUT-DIR")
                            .Command("C:SELF/SUB/UP")
                            .Command("C:A:SUB")
                            .Command("C:9:"));
  add("cmd-delete", Seed(0)
                        .Command("S:README.PRG")
                        .Command("S:OUT-FILE")
                        .Command("S:SUB/DEEPER")
                        .Command("S:SUB")
                        .Command("S:LOCKED.PRG")
                        .Command("S:../SENTINEL.PRG")
                        .Command("S:OUT-DIR/KEEP.PRG")
                        .Command("C:SUB")
                        .Command("S:*"));
  add("cmd-delete-protected", Seed().Command("S:GAME.PRG"));
  add("cmd-make-dir", Seed()
                          .Command("M:NEWDIR")
                          .Command("M:SUB/NESTED/")
                          .Command("M:../ESCAPE")
                          .Command("M:OUT-DIR/ESCAPE")
                          .Command("M:DUP.PRG"));
  add("cmd-rename", Seed()
                        .Command("R:RENAMED.PRG=README.PRG")
                        .Command("R:SUB/MOVED.PRG=GAME.PRG")
                        .Command("R:../STOLEN.PRG=EMPTY.PRG")
                        .Command("R:OUT-DIR/STOLEN.PRG=DUP.PRG")
                        .Command("R:X.PRG=OUT-FILE")
                        .Command("R:UP=SUB/UP")
                        .Command("R:A=B=C"));
  add("cmd-malformed", Seed().Command("X").Command("Q:FOO").Command("XY").Command(""));

  // Faults of the line: a wrong attention byte, damaged headers and names, packets
  // that are no request, silences at every point, and a port that takes nothing.
  {
    Bytes bad_header = testing::PacketBytes(ptLoad, "GAME.PRG");
    bad_header[2] ^= 0x01;
    Bytes bad_name = testing::PacketBytes(ptLoad, "GAME.PRG");
    bad_name.back() ^= 0x01;
    add("line-damage", Seed()
                           .Send({0x42})
                           .Send({ptAttention})
                           .Send(bad_header)
                           .Send({ptAttention})
                           .Send(bad_name)
                           .Send({ptAttention})
                           .Send(testing::PacketBytes(ptData, "GAME.PRG"))
                           .Send(testing::PacketBytes(ptLoad, "GAME.PRG"))
                           .Status(stOk)
                           .Status(stOk));
  }
  // The C64 pausing: before its request packet (the server gives up on it), for
  // exactly the limit inside a header (still in time), before a reply (a load has
  // no limit there), inside a reply (the server asks for a repeat) and inside a block.
  {
    const Bytes request = testing::PacketBytes(ptLoad, "GAME.PRG");
    const Bytes block = testing::PacketBytes(ptData, Seed::Content(50, 5));
    add("line-silences", Seed()
                             .Send({ptAttention})
                             .Silence(1500)
                             .Send({ptAttention, request[0], request[1]})
                             .Silence(1000)
                             .Send(Bytes(request.begin() + 2, request.end()))
                             .Silence(2000)
                             .Status(stOk)
                             .Send({stOk})
                             .Silence(1500)
                             .Status(stOk)
                             .Status(stOk)
                             .Status(stOk)
                             .Request(ptSave, "NEW.PRG")
                             .Send({block[0]})
                             .Silence(999)
                             .Send(Bytes(block.begin() + 1, block.end()))
                             .Silence(4000)
                             .Status(stEndOfFile));
  }
  // The C64 holding CTS off: just within the limit before the load's first reply,
  // past it for a block (the C64 asks for it again), and for several seconds after
  // a command's reply has begun.
  add("line-stalls", Seed()
                         .Request(ptLoad, "GAME.PRG")
                         .Stall(499)
                         .Status(stOk)
                         .Stall(501)
                         .Status(stOk)
                         .Status(stRepeat)
                         .Status(stOk)
                         .Status(stOk)
                         .Status(stOk)
                         .Command("C:SUB")
                         .Stall(3000)
                         .Command("M:X"));
  add("clock-wrap", Seed(OptionDeleteProtection | OptionClockNearWrap)
                        .Send({ptAttention})
                        .Silence(500)
                        .Send(testing::PacketBytes(ptLoad, "GAME.PRG"))
                        .Silence(998)
                        .Status(stOk)
                        .Silence(1004)
                        .Status(stOk));
  return seeds;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
    return 2;
  }
  const fs::path dir = argv[1];
  std::error_code error;
  fs::create_directories(dir, error);
  for (const NamedSeed& entry : AllSeeds()) {
    std::ofstream out(dir / ("seed-" + std::string(entry.name)), std::ios::binary);
    const Bytes& bytes = entry.seed.Encoded();
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
      std::fprintf(stderr, "cannot write %s\n", (dir / entry.name).c_str());
      return 1;
    }
  }
  return 0;
}
