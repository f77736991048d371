#include "formats/cbm_disk.h"

#include <gtest/gtest.h>

#include "formats/cbm_names.h"

namespace dorvane {
namespace {

CbmName Name(const std::string& text) {
  CbmName name;
  EXPECT_TRUE(ToCbmName(text, name)) << text;
  return name;
}

std::vector<std::uint8_t> Data(std::size_t size, std::uint8_t seed = 1) {
  std::vector<std::uint8_t> data(size);
  for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(i * 7 + seed);
  return data;
}

std::size_t Offset(const DiskGeometry& g, int t, int s) {
  return static_cast<std::size_t>(g.SectorIndex(t, s)) * SectorSize;
}

// The sectors of a chain, from the bytes themselves.
std::vector<std::pair<int, int>> Chain(const CbmDisk& disk, int t, int s) {
  std::vector<std::pair<int, int>> chain;
  while (t != 0 && chain.size() < 4000) {
    chain.emplace_back(t, s);
    const std::size_t at = Offset(disk.Geometry(), t, s);
    t = disk.Bytes()[at];
    s = disk.Bytes()[at + 1];
  }
  return chain;
}

TEST(DiskGeometry, KnowsImagesByExtensionAndSize) {
  struct Case {
    const char* extension;
    std::size_t size;
    bool image;
    int sectors;
    bool errors;
  };
  const Case cases[] = {
      {".d64", 174848, true, 683, false},  {".D64", 175531, true, 683, true},
      {".d64", 196608, true, 768, false},  {".d64", 197376, true, 768, true},
      {".d71", 349696, true, 1366, false}, {".d71", 351062, true, 1366, true},
      {".d81", 819200, true, 3200, false}, {".D81", 822400, true, 3200, true},
      {".d64", 174847, false, 0, false},   {".d71", 174848, false, 0, false},
      {".d81", 349696, false, 0, false},   {".prg", 174848, false, 0, false},
  };
  for (const Case& c : cases) {
    const auto g = DiskGeometry::ForImage(c.extension, c.size);
    ASSERT_EQ(g.has_value(), c.image) << c.extension << " " << c.size;
    if (!g) continue;
    EXPECT_EQ(g->SectorCount(), c.sectors);
    EXPECT_EQ(g->HasErrorBytes(), c.errors);
    EXPECT_EQ(g->ImageSize(), c.size);
  }
}

TEST(DiskGeometry, PlacesSectorsZoneByZone) {
  const DiskGeometry d64(DiskKind::D64, 40, false);
  EXPECT_EQ(Offset(d64, 18, 0), 0x16500u);  // the well-known BAM offset
  EXPECT_EQ(d64.SectorsOn(36), 17);
  EXPECT_FALSE(d64.Contains(41, 0));
  EXPECT_FALSE(d64.Contains(18, 19));
  EXPECT_FALSE(d64.Contains(0, 0));
  const DiskGeometry d71(DiskKind::D71, 70, false);
  EXPECT_EQ(Offset(d71, 53, 0), 0x41000u);
  EXPECT_EQ(d71.SectorsOn(36), 21);
  const DiskGeometry d81(DiskKind::D81, 80, false);
  EXPECT_EQ(Offset(d81, 40, 0), 0x61800u);
}

TEST(CbmDisk, FormatsAsTheDrivesDo) {
  struct Case {
    DiskKind kind;
    int free;
    std::size_t header;
    std::size_t name_at;
    std::array<std::uint8_t, 5> id;
  };
  const Case cases[] = {
      {DiskKind::D64, 664, 0x16500, 0x90, {'4', '2', 0xA0, '2', 'A'}},
      {DiskKind::D71, 1328, 0x16500, 0x90, {'4', '2', 0xA0, '2', 'A'}},
      {DiskKind::D81, 3160, 0x61800, 0x04, {'4', '2', 0xA0, '3', 'D'}},
  };
  for (const Case& c : cases) {
    const CbmDisk disk = CbmDisk::Format(c.kind, "BLANK", "42");
    EXPECT_EQ(disk.FreeBlocks(), c.free);
    EXPECT_EQ(disk.IdField(), c.id);
    EXPECT_EQ(ShownCbmName(disk.DiskName()), "BLANK");
    EXPECT_EQ(disk.Bytes()[c.header + c.name_at + 5], 0xA0);
    bool damaged = true;
    EXPECT_TRUE(disk.Directory(damaged).empty());
    EXPECT_FALSE(damaged);
  }
  const CbmDisk d71 = CbmDisk::Format(DiskKind::D71, "X", "00");
  EXPECT_EQ(d71.Bytes()[0x16503], 0x80);       // double-sided flag
  EXPECT_EQ(d71.Bytes()[0x16500 + 0xDD], 21);  // track 36 free count
  const CbmDisk d81 = CbmDisk::Format(DiskKind::D81, "X", "00");
  EXPECT_EQ(d81.Bytes()[0x61800 + 256 + 3], 0xBB);
  EXPECT_EQ(d81.Bytes()[0x61800 + 256 + 0x10 + 6 * 38], 40);  // track 39 free count
}

TEST(CbmDisk, WritesWithTheDrivesInterleaveNearTheDirectory) {
  CbmDisk d64 = CbmDisk::Format(DiskKind::D64, "T", "00");
  ASSERT_TRUE(d64.WriteFile(Name("first"), CbmPrg, Data(254 * 23)));
  bool damaged = false;
  const auto entries = d64.Directory(damaged);
  ASSERT_EQ(entries.size(), 1u);
  const std::vector<std::pair<int, int>> expected = {
      {17, 0},  {17, 10}, {17, 20}, {17, 9}, {17, 19}, {17, 8}, {17, 18}, {17, 7},
      {17, 17}, {17, 6},  {17, 16}, {17, 5}, {17, 15}, {17, 4}, {17, 14}, {17, 3},
      {17, 13}, {17, 2},  {17, 12}, {17, 1}, {17, 11}, {16, 0}, {16, 10}};
  EXPECT_EQ(Chain(d64, entries[0].Track, entries[0].Sector), expected);
  EXPECT_EQ(entries[0].Blocks, 23);
  EXPECT_EQ(entries[0].TypeByte, 0x82);
  EXPECT_EQ(d64.FreeBlocks(), 664 - 23);
  // The next file starts on the nearest track with room, above the directory.
  ASSERT_TRUE(d64.WriteFile(Name("second"), CbmSeq, Data(10)));
  const auto both = d64.Directory(damaged);
  EXPECT_EQ(both[1].Track, 19);
  ASSERT_TRUE(d64.WriteFile(Name("third"), CbmSeq, Data(254 * 19 * 2)));

  CbmDisk d81 = CbmDisk::Format(DiskKind::D81, "T", "00");
  ASSERT_TRUE(d81.WriteFile(Name("f"), CbmPrg, Data(254 * 41)));
  const auto e81 = d81.Directory(damaged);
  const auto chain81 = Chain(d81, e81[0].Track, e81[0].Sector);
  ASSERT_EQ(chain81.size(), 41u);
  EXPECT_EQ(chain81[0], std::make_pair(39, 0));
  EXPECT_EQ(chain81[39], std::make_pair(39, 39));
  EXPECT_EQ(chain81[40], std::make_pair(38, 0));
}

TEST(CbmDisk, ReadsBackWhatItWroteAtEveryBoundary) {
  for (DiskKind kind : {DiskKind::D64, DiskKind::D71, DiskKind::D81}) {
    CbmDisk disk = CbmDisk::Format(kind, "T", "00");
    const std::size_t sizes[] = {0, 1, 253, 254, 255, 508, 5000};
    for (std::size_t size : sizes) {
      ASSERT_TRUE(disk.WriteFile(Name(std::string("f").append(std::to_string(size))), CbmPrg,
                                 Data(size, 3)));
    }
    bool damaged = false;
    const auto entries = disk.Directory(damaged);
    ASSERT_EQ(entries.size(), std::size(sizes));
    for (std::size_t i = 0; i < entries.size(); ++i) {
      std::vector<std::uint8_t> data;
      EXPECT_EQ(disk.ReadChain(entries[i].Track, entries[i].Sector, data), ChainStatus::Ok);
      EXPECT_EQ(data, Data(sizes[i], 3)) << sizes[i];
      EXPECT_EQ(entries[i].Blocks, std::max<std::size_t>(1, (sizes[i] + 253) / 254));
    }
  }
}

TEST(CbmDisk, FillsTheFirstSideOfAD71BeforeTheSecond) {
  CbmDisk disk = CbmDisk::Format(DiskKind::D71, "T", "00");
  ASSERT_TRUE(disk.WriteFile(Name("big"), CbmPrg, Data(254 * 700)));
  bool damaged = false;
  const auto entries = disk.Directory(damaged);
  const auto chain = Chain(disk, entries[0].Track, entries[0].Sector);
  ASSERT_EQ(chain.size(), 700u);
  EXPECT_LE(chain[663].first, 35);
  EXPECT_GE(chain[664].first, 36);
  EXPECT_NE(chain[664].first, 53);
  EXPECT_EQ(disk.FreeBlocks(), 1328 - 700);
  std::vector<std::uint8_t> data;
  EXPECT_EQ(disk.ReadChain(entries[0].Track, entries[0].Sector, data), ChainStatus::Ok);
  EXPECT_EQ(data, Data(254 * 700));
}

TEST(CbmDisk, GrowsTheDirectoryOnItsTrack) {
  struct Case {
    DiskKind kind;
    int max_entries;
    std::pair<int, int> second_sector;
  };
  const Case cases[] = {{DiskKind::D64, 144, {18, 4}}, {DiskKind::D81, 296, {40, 4}}};
  for (const Case& c : cases) {
    CbmDisk disk = CbmDisk::Format(c.kind, "T", "00");
    for (int i = 0; i < c.max_entries; ++i) {
      ASSERT_TRUE(disk.WriteFile(Name(std::string("f").append(std::to_string(i))), CbmPrg, Data(1)))
          << i;
    }
    EXPECT_FALSE(disk.WriteFile(Name("one more"), CbmPrg, Data(1)));
    bool damaged = false;
    const auto entries = disk.Directory(damaged);
    ASSERT_EQ(entries.size(), static_cast<std::size_t>(c.max_entries));
    EXPECT_EQ(std::make_pair(entries[8].SlotTrack, entries[8].SlotSector), c.second_sector);
    EXPECT_EQ(HostCbmName(entries.back().Name),
              std::string("f").append(std::to_string(c.max_entries - 1)));
  }
}

// A BAM that marks used sectors free (the directory's, a file's, or every sector)
// must cost no directory entry and no file's data: each write then finds other
// sectors, and a directory that cannot grow any more ends in a full disk.
TEST(CbmDisk, ABamThatLiesNeverCostsAnEntryOrAFile) {
  struct Case {
    const char* what;
    bool directory_free;
    bool files_free;
  };
  const Case cases[] = {
      {"directory sectors marked free", true, false},
      {"file sectors marked free", false, true},
      {"every sector marked free", true, true},
  };
  for (const Case& c : cases) {
    CbmDisk disk = CbmDisk::Format(DiskKind::D64, "T", "00");
    const auto file = [](int i) { return std::string("f").append(std::to_string(i)); };
    // 100 entries spread over 13 directory sectors, and two blocks a file.
    for (int i = 0; i < 100; ++i) ASSERT_TRUE(disk.WriteFile(Name(file(i)), CbmPrg, Data(300, i)));
    std::vector<std::uint8_t> bytes = disk.Bytes();
    for (int t = 1; t <= 35; ++t) {
      if ((t == 18 && !c.directory_free) || (t != 18 && !c.files_free)) continue;
      const std::size_t at = Offset(disk.Geometry(), 18, 0) + 4 * static_cast<std::size_t>(t);
      const int sectors = disk.Geometry().SectorsOn(t);
      bytes[at] = static_cast<std::uint8_t>(sectors);
      for (int s = 0; s < sectors; ++s)
        bytes[at + 1 + s / 8] |= static_cast<std::uint8_t>(1 << (s % 8));
    }
    CbmDisk lied(disk.Geometry(), bytes);
    int written = 100;
    while (lied.WriteFile(Name(file(written)), CbmPrg, Data(300, written))) ++written;

    bool damaged = false;
    const auto entries = lied.Directory(damaged);
    EXPECT_FALSE(damaged) << c.what;
    ASSERT_EQ(entries.size(), static_cast<std::size_t>(written)) << c.what;
    EXPECT_EQ(written, 144) << c.what;  // the directory's whole track, as with a true BAM
    for (int i = 0; i < written; ++i) {
      std::vector<std::uint8_t> data;
      EXPECT_EQ(HostCbmName(entries[static_cast<std::size_t>(i)].Name), file(i)) << c.what;
      ASSERT_EQ(lied.ReadChain(entries[static_cast<std::size_t>(i)].Track,
                               entries[static_cast<std::size_t>(i)].Sector, data),
                ChainStatus::Ok)
          << c.what << " " << i;
      EXPECT_EQ(data, Data(300, static_cast<std::uint8_t>(i))) << c.what << " " << i;
    }
  }
}

TEST(CbmDisk, AFullDiskIsLeftAsItWas) {
  CbmDisk disk = CbmDisk::Format(DiskKind::D64, "T", "00");
  ASSERT_TRUE(disk.WriteFile(Name("a"), CbmPrg, Data(254 * 600)));
  const std::vector<std::uint8_t> before = disk.Bytes();
  EXPECT_FALSE(disk.WriteFile(Name("b"), CbmPrg, Data(254 * 65)));
  EXPECT_EQ(disk.Bytes(), before);
  EXPECT_TRUE(disk.WriteFile(Name("b"), CbmPrg, Data(254 * 64)));
  EXPECT_EQ(disk.FreeBlocks(), 0);
}

TEST(CbmDisk, ScratchFreesTheChainAndTheSlot) {
  CbmDisk disk = CbmDisk::Format(DiskKind::D64, "T", "00");
  const std::vector<std::uint8_t> blank = disk.Bytes();
  ASSERT_TRUE(disk.WriteFile(Name("a"), CbmPrg, Data(3000)));
  bool damaged = false;
  disk.Scratch(disk.Directory(damaged)[0]);
  EXPECT_TRUE(disk.Directory(damaged).empty());
  EXPECT_EQ(disk.FreeBlocks(), 664);
  // The BAM is as on the blank disk again.
  EXPECT_TRUE(
      std::equal(blank.begin() + 0x16504, blank.begin() + 0x16590, disk.Bytes().begin() + 0x16504));
  ASSERT_TRUE(disk.WriteFile(Name("b"), CbmPrg, Data(10)));
  const auto entries = disk.Directory(damaged);
  EXPECT_EQ(entries[0].SlotIndex, 0);
  disk.Rename(entries[0], Name("renamed"));
  EXPECT_EQ(ShownCbmName(disk.Directory(damaged)[0].Name), "RENAMED");
}

// One fault at a time in a good two-sector chain of a D64 with error bytes.
TEST(CbmDisk, ChecksEveryLinkOfAChain) {
  const DiskGeometry g(DiskKind::D64, 35, true);
  struct Case {
    const char* what;
    std::uint8_t link_t, link_s;  // the first sector's link
    std::uint8_t error;           // error byte of the second sector
    ChainStatus status;
  };
  const Case cases[] = {
      {"good", 1, 1, 0x01, ChainStatus::Ok},
      {"track beyond", 36, 0, 0x00, ChainStatus::OutOfRange},
      {"sector beyond", 1, 21, 0x00, ChainStatus::OutOfRange},
      {"loop", 1, 0, 0x00, ChainStatus::Loop},
      {"bad sector", 1, 1, 0x05, ChainStatus::BadSector},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> bytes(g.ImageSize());
    bytes[0] = c.link_t;
    bytes[1] = c.link_s;
    bytes[256] = 0;
    bytes[257] = 3;  // two bytes in the last sector
    bytes[683 * 256 + 1] = c.error;
    const CbmDisk disk(g, bytes);
    std::vector<std::uint8_t> data;
    EXPECT_EQ(disk.ReadChain(1, 0, data), c.status) << c.what;
    if (c.status == ChainStatus::Ok) {
      EXPECT_EQ(data.size(), 256u);
    }
  }
}

TEST(CbmDisk, ADirectoryThatLoopsEndsDamaged) {
  CbmDisk disk = CbmDisk::Format(DiskKind::D64, "T", "00");
  ASSERT_TRUE(disk.WriteFile(Name("a"), CbmPrg, Data(1)));
  std::vector<std::uint8_t> bytes = disk.Bytes();
  bytes[0x16600] = 18;  // 18/1 links to itself
  bytes[0x16601] = 1;
  const CbmDisk looped(disk.Geometry(), bytes);
  bool damaged = false;
  EXPECT_EQ(looped.Directory(damaged).size(), 1u);
  EXPECT_TRUE(damaged);
  CbmDisk writable(disk.Geometry(), bytes);
  for (int i = 0; i < 7; ++i)
    EXPECT_TRUE(writable.WriteFile(Name(std::string("x").append(std::to_string(i))), 2, {}));
  EXPECT_FALSE(writable.WriteFile(Name("full"), CbmPrg, Data(1)));
}

TEST(CbmDisk, ADirectoryLongerThanItsTrackEndsDamaged) {
  CbmDisk disk = CbmDisk::Format(DiskKind::D64, "T", "00");
  std::vector<std::uint8_t> bytes = disk.Bytes();
  // 18/1 leads on through all 21 sectors of track 1, every slot used.
  bytes[0x16600] = 1;
  bytes[0x16601] = 0;
  for (int i = 0; i < 8; ++i) bytes[0x16600 + 32 * static_cast<std::size_t>(i) + 2] = 0x82;
  for (int s = 0; s < 21; ++s) {
    std::uint8_t* p = &bytes[static_cast<std::size_t>(s) * 256];
    p[0] = s < 20 ? 1 : 0;
    p[1] = static_cast<std::uint8_t>(s < 20 ? s + 1 : 0xFF);
    for (int i = 0; i < 8; ++i) p[32 * i + 2] = 0x82;
  }
  const CbmDisk hostile(disk.Geometry(), bytes);
  bool damaged = false;
  EXPECT_EQ(hostile.Directory(damaged).size(), 19u * 8);  // the 19 sectors of track 18
  EXPECT_TRUE(damaged);
  CbmDisk writable(disk.Geometry(), bytes);
  EXPECT_FALSE(writable.WriteFile(Name("new"), CbmPrg, Data(1)));
}

TEST(CbmNames, MatchAsTheDriveDoes) {
  struct Case {
    const char* pattern;
    const char* name;
    bool matches;
  };
  const Case cases[] = {
      {"game", "game", true},   {"GAME", "game", true},  {"gam", "game", false},
      {"games", "game", false}, {"g*", "game", true},    {"*", "", true},
      {"g?me", "game", true},   {"g?me*", "gam", false}, {"ga*xyz", "game", true},
      {"?", "", false},         {"", "", false},         {"*.*", "game", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MatchesCbmPattern(c.pattern, c.name), c.matches) << c.pattern << " " << c.name;
  }
}

TEST(CbmNames, ConvertStoredNamesBothWays) {
  CbmName stored;
  EXPECT_TRUE(ToCbmName("hello 1", stored));
  EXPECT_EQ(ShownCbmName(stored), "HELLO 1");
  EXPECT_EQ(stored[7], 0xA0);
  const char* refused[] = {"", "seventeen chars!!", "a*", "a?", "a\xA0"};
  for (const char* name : refused) EXPECT_FALSE(ToCbmName(name, stored)) << name;
  EXPECT_FALSE(ToCbmName(std::string("a\0b", 3), stored));
  CbmName shifted{};
  shifted.fill(0xA0);
  shifted[0] = 0xC1;  // shifted A
  shifted[1] = 0x5A;  // Z
  shifted[2] = 0x31;
  EXPECT_EQ(HostCbmName(shifted), "az1");
}

}  // namespace
}  // namespace dorvane
