// The application's title and the way 8-bit texts reach the screen.
#include <gtest/gtest.h>

#include <string>

#include "ui/app_title.h"
#include "ui/host_text.h"

namespace dorvane {
namespace {

TEST(ApplicationTitle, IsTheProgramNameCapitalised) {
  const struct {
    const char* path;
    const char* title;
  } cases[] = {
      {"/work/main/build/bin/dorvane", "Dorvane"},
      {"dorvane", "Dorvane"},
      {"/usr/bin/DORVANE", "Dorvane"},
      {"/opt/c64/DorVane.bin", "Dorvane"},
      {"./my.server.x", "My.server"},     // only the last extension goes
      {"/home/op/.dorvane", ".dorvane"},  // a hidden name has no extension
      {"/odd.dir/dorvane", "Dorvane"},    // a dot in the directory is no extension
  };
  for (const auto& c : cases) EXPECT_EQ(ApplicationTitleFor(c.path), c.title) << c.path;
}

TEST(DisplayText, ShowsUtf8AsSuchAndAnyOtherByteAsLatin1) {
  const struct {
    std::string bytes;
    QString shown;
  } cases[] = {
      {"Sending file: game.prg", "Sending file: game.prg"},
      {"Deleting file: caf\xC3\xA9.prg", QString::fromUtf8("Deleting file: caf\xC3\xA9.prg")},
      // A PETSCII byte that the name conversion passes on unchanged.
      {std::string("x\xC0y"), QString("x") + QChar(0xC0) + "y"},
      // Cut in the middle of a UTF-8 sequence: every byte still shows.
      {std::string("ab\xC3"), QString("ab") + QChar(0xC3)},
      {std::string("n\0m", 3), QString("n") + QChar(0) + "m"},
  };
  for (const auto& c : cases) EXPECT_EQ(DisplayText(c.bytes), c.shown) << c.bytes;
}

}  // namespace
}  // namespace dorvane
