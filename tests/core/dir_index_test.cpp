// A directory's index: the order, alternate names and look-ups it works out in parts
// must be those of sorting the whole directory at once, however far a listing got
// and however many entries came and went since.
#include "storage/dir_index.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "formats/petscii_names.h"
#include "tests/support/dir_names_model.h"

namespace dorvane {
namespace {

TEST(DirIndex, FindsTheListedEntryByFoldedAndByAlternateName) {
  DirIndex index;
  for (const char* name :
       {"Game.prg", "zeta", "game.prg", "A_VERY_LONG_FILENAME.TXT", "GAME.PRG"}) {
    index.Add(name, ListedForm{});
  }
  std::vector<std::string> order;
  DirIndex::Id id = 0;
  for (std::size_t k = 0; index.At(k, id); ++k) order.emplace_back(index.Name(id));
  EXPECT_EQ(order, (std::vector<std::string>{"A_VERY_LONG_FILENAME.TXT", "game.prg", "Game.prg",
                                             "GAME.PRG", "zeta"}));
  const struct {
    const char* name;
    const char* found;  // nullptr: none
  } rows[] = {
      {"game.prg", "game.prg"},
      {"GAME.PRG", "game.prg"},
      {"gAmE.pRg", "game.prg"},
      {"zeta", "zeta"},
      {"ZETA", "zeta"},
      {"game~1.prg", "Game.prg"},
      {"GAME~2.PRG", "GAME.PRG"},
      {"a_very~1.txt", "A_VERY_LONG_FILENAME.TXT"},
      {"game~3.prg", nullptr},
      {"gam", nullptr},
      {"", nullptr},
  };
  for (const auto& row : rows) {
    const bool found = index.FindFolded(row.name, id) || index.FindAlternate(row.name, id);
    if (row.found == nullptr) {
      EXPECT_FALSE(found) << row.name;
    } else {
      ASSERT_TRUE(found) << row.name;
      EXPECT_EQ(index.Name(id), row.found) << row.name;
    }
  }
}

// Random directories whose names collide in every way the rules know: in letter case,
// in their first six characters, with "~" names that look like alternates, through
// the PETSCII mapping and through the C64 names inside containers.
class RandomDirectory {
 public:
  explicit RandomDirectory(unsigned seed) : random_(seed) {}

  std::string Name() {
    static const char* const stems[] = {"game",
                                        "Game",
                                        "GAME",
                                        "gAmE",
                                        "a_very_long_filename",
                                        "a very long filename",
                                        "übung",
                                        "Übung",
                                        "ubung",
                                        "UBUNG",
                                        "game~1",
                                        "GAME~2",
                                        "a_very~1",
                                        "x{41}",
                                        "X{41}",
                                        "n\xC1me",
                                        "nAme",
                                        "nAmE",
                                        "£sign",
                                        "\\sign",
                                        "_sign",
                                        "longer name with spaces here",
                                        "\u65E5\u672C",
                                        "snow\u2603"};
    static const char* const extensions[] = {"", ".prg", ".PRG", ".seq", ".txt", ".p00", ".P00"};
    std::string name = stems[Pick(std::size(stems))];
    if (Pick(3) == 0) name += std::to_string(Pick(12));
    name += extensions[Pick(std::size(extensions))];
    return name;
  }

  // A form as the host would give it: mostly what the name maps to, sometimes a
  // container's C64 name, which may list the same as another entry.
  ListedForm Form(const std::string& name) {
    if (Pick(8) != 0) return PlainForm(name);
    static const char* const inner[] = {"GAME", "game.prg", "UBUNG", "A VERY LONG C64 NA",
                                        "NAME", "GAME~1",   "ZETA",  "A/B",
                                        "$",    "..",       "X..Y"};
    ListedForm form;
    form.Name = inner[Pick(std::size(inner))];
    form.Type = CbmFileType::Seq;
    form.HeaderSize = 26;
    return form;
  }

  std::size_t Pick(std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(random_);
  }

 private:
  std::mt19937 random_;
};

struct Entry {
  std::string name;
  ListedForm form;
};

model::DirNames ModelOf(const std::vector<Entry>& entries) {
  std::vector<std::string> names;
  std::vector<ListedForm> forms;
  for (const Entry& entry : entries) {
    names.push_back(entry.name);
    forms.push_back(entry.form);
  }
  return model::MakeDirNames(names, forms);
}

// Holds the index to the whole-directory build of the same entries: the whole
// listing and every kind of look-up.
void ExpectAgrees(DirIndex& index, const std::vector<Entry>& entries, const std::string& context,
                  std::size_t query_stride = 1) {
  const model::DirNames model = ModelOf(entries);
  ASSERT_EQ(index.Size(), model.names.size()) << context;
  DirIndex::Id id = 0;
  for (std::size_t k = 0; k < model.names.size(); ++k) {
    ASSERT_TRUE(index.At(k, id)) << context;
    ASSERT_EQ(index.Name(id), model.names[k]) << context << " at " << k;
    ASSERT_EQ(index.AlternateAt(k), model.alternates[k]) << context << " " << model.names[k];
    ASSERT_EQ(index.Form(id).Name, model.forms[k].Name) << context << " " << model.names[k];
    if (k % query_stride == 0) {
      ASSERT_EQ(index.Alternate(id), model.alternates[k]) << context << " " << model.names[k];
    }
  }
  EXPECT_FALSE(index.At(model.names.size(), id)) << context;

  std::set<std::string> queries = {"", "nothing", "GAME~9.PRG", "a_very~3"};
  for (std::size_t k = 0; k < model.names.size(); k += query_stride) {
    queries.insert(model.names[k]);
    if (!model.alternates[k].empty()) queries.insert(model.alternates[k]);
    const std::string listed = model.forms[k].Name.empty() ? model.names[k] : model.forms[k].Name;
    queries.insert(listed);
    queries.insert(FoldPetsciiLetters(listed));
  }
  for (const std::string& query : queries) {
    std::size_t expected = 0;
    const bool folded = model.FindFolded(query, expected);
    ASSERT_EQ(index.FindFolded(query, id), folded) << context << " folded " << query;
    if (folded) {
      ASSERT_EQ(index.Name(id), model.names[expected]) << context << " " << query;
    }
    const bool alternate = model.FindAlternate(query, expected);
    ASSERT_EQ(index.FindAlternate(query, id), alternate) << context << " alternate " << query;
    if (alternate) {
      ASSERT_EQ(index.Name(id), model.names[expected]) << context << " " << query;
    }
    const bool listed = model.FindListed(query, expected);
    ASSERT_EQ(index.FindListed(query, id), listed) << context << " listed " << query;
    if (listed) {
      ASSERT_EQ(index.Name(id), model.names[expected]) << context << " " << query;
    }
  }
}

TEST(DirIndex, AgreesWithTheWholeDirectoryBuild) {
  for (unsigned seed = 1; seed <= 60; ++seed) {
    RandomDirectory random(seed);
    std::vector<Entry> entries;
    std::set<std::string> taken;
    DirIndex index;
    const std::size_t count = 1 + random.Pick(seed % 10 == 0 ? 300 : 40);
    while (entries.size() < count) {
      const std::string name = random.Name();
      if (!taken.insert(name).second) continue;
      entries.push_back(Entry{name, random.Form(name)});
      index.Add(name, entries.back().form);
    }
    ExpectAgrees(index, entries, "seed " + std::to_string(seed));
  }
}

TEST(DirIndex, StaysInAgreementAsEntriesComeAndGo) {
  for (unsigned seed = 100; seed < 140; ++seed) {
    RandomDirectory random(seed);
    std::vector<Entry> entries;
    DirIndex index;
    for (int step = 0; step < 60; ++step) {
      // A listing got part of the way, as one that stopped early would.
      DirIndex::Id id = 0;
      index.At(random.Pick(entries.size() + 1), id);
      index.AlternateAt(random.Pick(entries.size() + 1));
      const std::string name = random.Name();
      const auto it = std::find_if(entries.begin(), entries.end(),
                                   [&](const Entry& e) { return e.name == name; });
      if (it == entries.end()) {
        entries.push_back(Entry{name, random.Form(name)});
        index.Add(name, entries.back().form);
      } else if (random.Pick(4) == 0) {
        it->form = random.Form(name);
        EXPECT_TRUE(index.SetForm(name, it->form));
      } else {
        entries.erase(it);
        EXPECT_TRUE(index.Remove(name));
      }
      EXPECT_FALSE(index.Remove("never there"));
    }
    ExpectAgrees(index, entries, "seed " + std::to_string(seed));
  }
}

// Bursts of changes as a directory's watch hears them: adds, removes, renames and
// rewritten containers mixed, on an index whose order was made partly, wholly or not
// at all, some of them while a listing is under way.
TEST(DirIndex, StaysInAgreementThroughBurstsOfChanges) {
  const struct {
    const char* what;
    std::size_t entries;  // before the burst
    std::size_t changes;
    std::size_t listed;         // how far a listing got before it; SIZE_MAX: all
    std::size_t spread;         // numbers appended to names, so that many differ
    bool first;                 // every name added lists before the others
    bool shrinking;             // removes and renames only: the index compacts
    std::size_t listing_every;  // a listing step after this many changes; 0: none
    std::size_t query_stride;
  } rows[] = {
      {"never listed", 200, 150, 0, 40, false, false, 0, 1},
      {"a burst larger than the directory", 40, 300, 10, 40, false, false, 7, 1},
      {"listed in part", 400, 250, 60, 60, false, false, 0, 1},
      {"listed in part, listing meanwhile", 400, 250, 60, 60, false, false, 3, 1},
      {"listed to the end", 400, 250, SIZE_MAX, 60, false, false, 11, 1},
      {"emptied while listed", 2000, 1500, 700, 900, false, true, 53, 3},
      {"chunks of a large one", 12000, 1500, 3000, 6000, false, false, 97, 41},
      {"all among the first listed", 12000, 1500, 100, 6000, true, false, 0, 41},
      {"large one listed to the end", 12000, 1200, SIZE_MAX, 6000, true, false, 131, 41},
  };
  unsigned seed = 300;
  for (const auto& row : rows) {
    RandomDirectory random(++seed);
    std::vector<Entry> entries;
    std::set<std::string> taken;
    DirIndex index;
    bool bursting = false;
    const auto new_name = [&] {
      for (;;) {
        std::string name = random.Name() + " " + std::to_string(random.Pick(row.spread));
        if (row.first && bursting) name.insert(0, "  ");
        if (taken.insert(name).second) return name;
      }
    };
    while (entries.size() < row.entries) {
      const std::string name = new_name();
      entries.push_back(Entry{name, random.Form(name)});
      index.Add(name, entries.back().form);
    }
    DirIndex::Id id = 0;
    const std::size_t listed = std::min(row.listed, entries.size());
    if (listed > 0) {
      index.At(listed - 1, id);
      index.AlternateAt(listed - 1);
    }
    bursting = true;
    for (std::size_t change = 1; change <= row.changes; ++change) {
      std::size_t kind = entries.empty() ? 0 : random.Pick(6);
      if (row.shrinking && !entries.empty()) kind = random.Pick(4) == 0 ? 5 : 4;
      if (kind <= 2) {
        const std::string name = new_name();
        entries.push_back(Entry{name, random.Form(name)});
        index.Add(name, entries.back().form);
      } else {
        const std::size_t victim = random.Pick(entries.size());
        Entry& entry = entries[victim];
        if (kind == 3) {
          entry.form = random.Form(entry.name);
          ASSERT_TRUE(index.SetForm(entry.name, entry.form)) << row.what;
        } else {
          // Removed, or renamed: the old name goes and a new one comes.
          ASSERT_TRUE(index.Remove(entry.name)) << row.what << " " << entry.name;
          taken.erase(entry.name);
          entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(victim));
          if (kind == 5) {
            const std::string name = new_name();
            entries.push_back(Entry{name, random.Form(name)});
            index.Add(name, entries.back().form);
          }
        }
      }
      if (row.listing_every != 0 && change % row.listing_every == 0) {
        const std::size_t position = random.Pick(std::min<std::size_t>(entries.size(), 2100) + 1);
        index.At(position, id);
        index.AlternateAt(position);
      }
    }
    ExpectAgrees(index, entries, row.what, row.query_stride);
  }
}

TEST(DirIndex, ALargeDirectoryListsInOrderAcrossItsChunks) {
  // Enough names for the order to be made in several chunks, with groups of names
  // equal in any case falling across their borders, and many removed on the way.
  std::vector<Entry> entries;
  DirIndex index;
  for (int i = 0; i < 9000; ++i) {
    std::string name = "Name " + std::to_string(i % 3000) + std::string(i / 3000, '+');
    if (i % 2 == 0) {
      for (char& c : name) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    }
    if (i % 7 == 0) name += " with a long tail";
    if (std::any_of(entries.begin(), entries.end(),
                    [&](const Entry& e) { return e.name == name; })) {
      continue;
    }
    entries.push_back(Entry{name, ListedForm{}});
    index.Add(name, ListedForm{});
  }
  DirIndex::Id id = 0;
  ASSERT_TRUE(index.At(100, id));
  for (std::size_t i = 0; i < entries.size(); i += 3) EXPECT_TRUE(index.Remove(entries[i].name));
  std::vector<Entry> left;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (i % 3 != 0) left.push_back(entries[i]);
  }
  index.Add("aaa first", ListedForm{});
  left.push_back(Entry{"aaa first", ListedForm{}});
  ExpectAgrees(index, left, "large", 37);
}

// An alternate name is looked for first among the entries put in order so far, and
// only then in all of them: either way it finds what the whole-directory build finds,
// before a change and after one that moves every later alternate.
TEST(DirIndex, AnAlternateIsFoundWithTheOrderMadeOnlyInPart) {
  std::vector<Entry> entries;
  DirIndex index;
  for (int i = 0; i < 6000; ++i) {
    char name[48];
    std::snprintf(name, sizeof name, i % 2 == 0 ? "a rather long program name %04d" : "g%04d.prg",
                  i);
    entries.push_back(Entry{name, ListedForm{}});
    index.Add(name, ListedForm{});
  }
  const auto expect_found_as_built = [&](const std::string& context) {
    const model::DirNames model = ModelOf(entries);
    for (const char* query : {"A_RATH~1", "a_rath~2000", "A_RATH~2900", "A_RATH~9999", "G~1"}) {
      std::size_t expected = 0;
      DirIndex::Id id = 0;
      const bool found = model.FindAlternate(query, expected);
      ASSERT_EQ(index.FindAlternate(query, id), found) << context << " " << query;
      if (!found) continue;
      EXPECT_EQ(index.Name(id), model.names[expected]) << context << " " << query;
      EXPECT_EQ(index.Alternate(id), model.alternates[expected]) << context << " " << query;
    }
  };
  DirIndex::Id id = 0;
  ASSERT_TRUE(index.At(10, id));
  expect_found_as_built("listed in part");
  // One more before them all, and one fewer among them: every later ordinal moves.
  index.Add("0 first", ListedForm{});
  entries.push_back(Entry{"0 first", ListedForm{}});
  ASSERT_TRUE(index.Remove("a rather long program name 0100"));
  entries.erase(entries.begin() + 100);
  expect_found_as_built("after a change");
}

}  // namespace
}  // namespace dorvane
