// The operator reads the names in the log as the host names they stand for: PETSCII
// from the C64 goes through the same mapping as the names it saves.
#include <string>
#include <vector>

#include "formats/petscii_names.h"
#include "tests/core/served_rig.h"
#include "tests/core/server_rig.h"

namespace dorvane::testing {
namespace {

using Lines = std::vector<std::string>;

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

TEST(ReadableLog, CommandsLogTheirNamesAsHostText) {
  const std::pair<std::string, Lines> cases[] = {
      {"s:\x5C\xC0", {"Deleting file: \u00A3\u2500", "File/dir not found..."}},
      {"r:\x5E=\x5F\x0D", {"Renaming file \u2190{0D} to \u2191", "Rename Error!"}},
      {"c:\xDB", {"Changing dir path to: \u253C", "Error changing dir to: \u253C"}},
      {"c:c:/\xDE", {"Changing disk drive to: c:/\u03C0", "Error changing drive to: c:/\u03C0"}},
      // Cut to 255 bytes between characters: 18 bytes of text, then 118 pound signs.
      {"m:" + Repeat("\x5C", 200),
       {"Making directory: " + Repeat("\u00A3", 118),
        "Error making directory: " + Repeat("\u00A3", 115)}},
  };
  for (const auto& [text, log] : cases) {
    SCOPED_TRACE(text);
    ServerRig rig;
    rig.panel.delete_protection = false;
    EXPECT_EQ(rig.Command(text).log, log);
  }
}

TEST(ReadableLog, TransfersLogTheirNamesAsHostText) {
  ServedRig save;
  save.Send(Cat({Request(ptSave, AsBytes("a\x5C\xA0")), StatusBytes(stEndOfFile)}));
  save.Serve();
  EXPECT_EQ(save.Log().at(3), "Getting file: a\u00A3\u00A0");

  ServedRig load;
  load.Send(Request(ptLoad, AsBytes("\xDE\x01")));
  load.Serve();
  EXPECT_EQ(load.Log().at(3), "Sending file:\u03C0{01}");
}

}  // namespace
}  // namespace dorvane::testing
