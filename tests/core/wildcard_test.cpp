#include "storage/wildcard.h"

#include <gtest/gtest.h>

#include <string>

namespace dorvane {
namespace {

struct WildcardCase {
  const char* pattern;
  std::string name;
  bool matches;
};

TEST(Wildcard, MatchesAsTheC64UserExpects) {
  const WildcardCase cases[] = {
      // "*.*" is every name, with or without a dot, "." and ".." included.
      {"*.*", "readme", true},
      {"*.*", "a.b.c", true},
      {"*.*", ".", true},
      {"*.*", "..", true},
      {"*", ".hidden", true},
      // An empty pattern matches nothing.
      {"", "x", false},
      {"", "", false},
      // Case does not count: the C64 sends lower case.
      {"*.prg", "GAME.PRG", true},
      {"Game.Prg", "gAME.pRG", true},
      {"*.prg", "game.seq", false},
      {"*.prg", "game.prg.bak", false},
      // "?" is exactly one character.
      {"?", "a", true},
      {"?", "ab", false},
      {"g?me", "game", true},
      {"g?me", "gme", false},
      {"???", "ab", false},
      // "*" backs up when the rest fails.
      {"a*b*c", "aXXbYYc", true},
      {"a*b*c", "aXXbYY", false},
      {"*ab", "aab", true},
      {"*x", "xxxx", true},
      {"*.*x", "a.b.x", true},
      {"**", "z", true},
      // A pattern ending in ".*" also takes a name without a dot.
      {"game.*", "game", true},
      {"game.*", "game.prg", true},
      {"game.*", "games", false},
      {"g*.*", "gx", true},
      {".*", "abc", false},
      {".*", ".profile", true},
      // Only ASCII letters fold; other bytes and brackets are plain characters.
      {"\xC1*", "\xE1x", false},
      {"\xC1*", "\xC1x", true},
      {"[ab]", "a", false},
      {"[ab]", "[AB]", true},
      {"\\*", "\\abc", true},
      {"a\\b", "A\\B", true},
      // Many stars against a long miss still ends.
      {"*a*a*a*a*a*a*a*a*a*b", std::string(200, 'a'), false},
  };
  for (const WildcardCase& c : cases) {
    EXPECT_EQ(MatchesWildcard(c.pattern, c.name), c.matches)
        << "pattern \"" << c.pattern << "\" name \"" << c.name << "\"";
  }
}

TEST(Wildcard, HasWildcardFindsStarAndQuestionMarkAnywhere) {
  const std::pair<const char*, bool> cases[] = {
      {"plain.prg", false},   {"*", true}, {"a?c", true}, {"end*", true},
      {"back\\slash", false}, {"", false},
  };
  for (const auto& [name, expected] : cases) EXPECT_EQ(HasWildcard(name), expected) << name;
}

}  // namespace
}  // namespace dorvane
