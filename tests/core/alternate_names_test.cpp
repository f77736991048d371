#include "storage/alternate_names.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "storage/dir_index.h"

namespace dorvane {
namespace {

// The alternate names a directory of `names` lists them by, each beside its name.
std::vector<std::string> AlternateNamesFor(const std::vector<std::string>& names) {
  DirIndex index;
  for (const std::string& name : names) index.Add(name, ListedForm{});
  std::vector<std::string> alternates;
  for (const std::string& name : names) {
    DirIndex::Id id = 0;
    EXPECT_TRUE(index.Find(name, id)) << name;
    alternates.emplace_back(index.Alternate(id));
  }
  return alternates;
}

// The alternate name of a long name that has no sibling sharing its prefix.
std::string AloneAlternate(const std::string& name) {
  return AlternateNamesFor(std::vector<std::string>{name}).front();
}

TEST(AlternateNames, SingleNamesMapAsTheListingShowsThem) {
  const std::pair<std::string, std::string> cases[] = {
      {"A_VERY_LONG_FILENAME.TXT", "A_VERY~1.TXT"},
      {"a very long filename.txt", "A_VERY~1.TXT"},
      // 16 characters fit the listing; 17 do not.
      {"abcdefghijkl.prg", ""},
      {"abcdefghijklm.prg", "ABCDEF~1.PRG"},
      {"short", ""},
      // No extension: no dot in the alternate either.
      {"averyveryverylongname", "AVERYV~1"},
      {"ends_with_a_dot_name.", "ENDS_W~1"},
      // A leading dot hides a file; it does not start an extension.
      {".config_backup_file", "_CONFI~1"},
      {".hidden_long_name.conf", "_HIDDE~1.CON"},
      // The extension is what follows the last dot, cut to three characters.
      {"my.archive.of.games.tar", "MY_ARC~1.TAR"},
      {"data_collection_2024.backup", "DATA_C~1.BAC"},
      // Short stem: no padding.
      {"ab.very_long_extension", "AB~1.VER"},
      // These punctuation marks stay; everything else becomes "_".
      {"a{b}c~d!e#f$g%h&i.txt", "A{B}C~~1.TXT"},
      {"'(@^`)-stuff_long.prg", "'(@^`)~1.PRG"},
      {"a+b,c;d=e[f]g_long.p+g", "A_B_C_~1.P_G"},
      {"\xC1\xC2\xC3long_petscii_name.prg", "___LON~1.PRG"},
  };
  for (const auto& [name, expected] : cases) EXPECT_EQ(AloneAlternate(name), expected) << name;
}

TEST(AlternateNames, CountAmongSiblingsSharingThePrefixInNameOrder) {
  // Read in a host order that is not the listing order.
  const std::vector<std::string> names = {
      "programmers_notes_file.txt", "Program_Collection_B.prg", "short.prg",
      "program_collection_a.prg",   "Other_long_filename.seq",  "PROGRA~1.txt",
  };
  const std::vector<std::string> expected = {
      "PROGRA~3.TXT", "PROGRA~2.PRG", "", "PROGRA~1.PRG", "OTHER_~1.SEQ", "",
  };
  EXPECT_EQ(AlternateNamesFor(names), expected);
}

TEST(AlternateNames, TiesInCaseAndInMappingAreOrderedByBytes) {
  // Equal without regard to case: the lower-case letter sorts first, the spelling the
  // C64 can type.
  EXPECT_EQ(AlternateNamesFor({"LONG_NAME_VARIANT_X", "long_name_variant_x"}),
            (std::vector<std::string>{"LONG_N~2", "LONG_N~1"}));
  // Different names whose mapped prefixes agree share one count.
  EXPECT_EQ(AlternateNamesFor({"abc+def_long_name_2", "abc def_long_name_1"}),
            (std::vector<std::string>{"ABC_DE~2", "ABC_DE~1"}));
  // Ten siblings: the count goes on past one digit.
  std::vector<std::string> many;
  for (char c = 'a'; c <= 'j'; ++c) many.push_back(std::string("samename_long_") + c + ".prg");
  const std::vector<std::string> alternates = AlternateNamesFor(many);
  EXPECT_EQ(alternates.front(), "SAMENA~1.PRG");
  EXPECT_EQ(alternates.back(), "SAMENA~10.PRG");
}

// Names that differ only in case would all list as one: the first in listing order
// keeps its name, each further one lists as an alternate counted with the long
// names of its prefix.
TEST(AlternateNames, CaseCollisionsAfterTheFirstGetAlternates) {
  struct Case {
    std::vector<std::string> names;
    std::vector<std::string> alternates;
  };
  const Case cases[] = {
      {{"Game.prg", "game.prg"}, {"GAME~1.PRG", ""}},
      {{"GAME.PRG", "Game.prg", "game.prg"}, {"GAME~2.PRG", "GAME~1.PRG", ""}},
      {{"Game.prg", "GAME.PRG"}, {"", "GAME~1.PRG"}},
      {{"Game.prg", "game_collection_2.prg", "game.prg"}, {"GAME~1.PRG", "GAME_C~1.PRG", ""}},
      {{"Notes", "notes", "NOTES~1"}, {"NOTES~2", "", ""}},
      {{"a", "b"}, {"", ""}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AlternateNamesFor(c.names), c.alternates) << c.names.front();
  }
}

TEST(AlternateNames, NeverRepeatARealNameOfTheDirectory) {
  // A real name in any letter case takes its ordinal out of the count: the long
  // name would otherwise be listed under a name that finds the other entry.
  const std::pair<std::vector<std::string>, std::vector<std::string>> cases[] = {
      {{"LONGFI~1.TXT", "longfilename_abc.txt"}, {"", "LONGFI~2.TXT"}},
      {{"longfilename_abc.txt", "longfi~1.txt"}, {"LONGFI~2.TXT", ""}},
      {{"longfilename_aaa.txt", "longfilename_bbb.txt", "LongFi~2.Txt"},
       {"LONGFI~1.TXT", "LONGFI~3.TXT", ""}},
      {{"longfilename_aaa.txt", "LONGFI~1.TXT", "LONGFI~2.TXT", "LONGFI~3"},
       {"LONGFI~3.TXT", "", "", ""}},
  };
  for (const auto& [names, expected] : cases) {
    EXPECT_EQ(AlternateNamesFor(names), expected) << names.front();
  }
}

}  // namespace
}  // namespace dorvane
