// Disk images measured against tools made by others: images that cc1541 writes are
// read here byte for byte, and images written here are listed by cc1541 and taken
// apart by cbmconvert with the same names, types, blocks, free count and bytes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "formats/cbm_disk.h"
#include "formats/cbm_names.h"

namespace dorvane {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

bool HaveTool(const char* name) {
  return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

std::string Run(const std::string& command) {
  std::string output;
  if (FILE* pipe = popen((command + " 2>&1").c_str(), "r")) {
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    pclose(pipe);
  }
  return output;
}

Bytes Content(std::size_t size, unsigned seed) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<std::uint8_t>((i * 131 + seed * 17 + i / 253) & 0xFF);
  }
  return bytes;
}

void WriteFile(const fs::path& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct TempDir {
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "dorvane-yardstick-XXXXXX").string();
    path = mkdtemp(pattern.data());
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
  fs::path path;
};

// One line of a listing: name as cc1541 prints it (ASCII, PETSCII capitals in lower
// case), blocks and type in lower case.
struct Listed {
  std::string name;
  int blocks;
  std::string type;
  bool operator==(const Listed&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Listed& l) {
  return out << l.blocks << " \"" << l.name << "\" " << l.type;
}

// cc1541's own listing of an image, and the free blocks it reports.
std::vector<Listed> Cc1541Listing(const fs::path& image, int& free) {
  const std::string output = Run("cc1541 -v '" + image.string() + "'");
  std::vector<Listed> listed;
  const std::regex line(R"re(^(\d+)\s+"([^"]*)"\s+(\S+))re");
  const std::regex free_line(R"(^(\d+) blocks free\.)");
  free = -1;
  std::istringstream in(output);
  std::string text;
  bool done = false;
  while (std::getline(in, text)) {
    std::smatch m;
    if (std::regex_search(text, m, free_line)) {
      free = std::stoi(m[1]);
      done = true;
    } else if (!done && std::regex_search(text, m, line)) {
      listed.push_back({m[2], std::stoi(m[1]), m[3]});
    }
  }
  return listed;
}

const char* TypeText(std::uint8_t type) {
  static const char* names[] = {"del", "seq", "prg", "usr", "rel"};
  return type < 5 ? names[type] : "???";
}

std::vector<Listed> OurListing(const CbmDisk& disk) {
  std::vector<Listed> listed;
  bool damaged = false;
  for (const CbmDirEntry& e : disk.Directory(damaged)) {
    listed.push_back({HostCbmName(e.Name), e.Blocks, TypeText(e.FileType())});
  }
  EXPECT_FALSE(damaged);
  return listed;
}

struct File {
  std::string name;  // lower case: cc1541 stores it as PETSCII capitals
  std::uint8_t type;
  std::size_t size;
};

// --- Images cc1541 writes, read here -----------------------------------------------

CbmDisk ByCc1541(const TempDir& dir, const std::string& image_name, const std::vector<File>& files,
                 const std::string& options) {
  std::string command = "cc1541 -q " + options + " -n 'yardstick' -i 'ys 2a'";
  for (std::size_t i = 0; i < files.size(); ++i) {
    const fs::path local = dir.path / std::string("f").append(std::to_string(i));
    WriteFile(local, Content(files[i].size, static_cast<unsigned>(i)));
    command += std::string(" -f '") + files[i].name + "' -T " +
               (files[i].type == CbmSeq ? "SEQ" : "PRG") + " -w '" + local.string() + "'";
  }
  const fs::path image = dir.path / image_name;
  command += " '" + image.string() + "'";
  const std::string output = Run(command);
  const Bytes bytes = ReadFile(image);
  const auto geometry = DiskGeometry::ForImage(image.extension().string(), bytes.size());
  EXPECT_TRUE(geometry.has_value()) << command << "\n" << output;
  if (!geometry) return CbmDisk::Format(DiskKind::D64, "", "");
  return CbmDisk(*geometry, bytes);
}

void ExpectFilesRead(const CbmDisk& disk, const std::vector<File>& files) {
  bool damaged = false;
  const std::vector<CbmDirEntry> entries = disk.Directory(damaged);
  ASSERT_EQ(entries.size(), files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    std::string upper = files[i].name;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(ShownCbmName(entries[i].Name), upper);
    EXPECT_EQ(entries[i].FileType(), files[i].type);
    Bytes data;
    EXPECT_EQ(disk.ReadChain(entries[i].Track, entries[i].Sector, data), ChainStatus::Ok);
    EXPECT_EQ(data, Content(files[i].size, static_cast<unsigned>(i))) << files[i].name;
  }
}

std::vector<File> ManyFiles(int count, std::size_t size) {
  std::vector<File> files;
  for (int i = 0; i < count; ++i) files.push_back({"file " + std::to_string(i), CbmPrg, size});
  return files;
}

TEST(Yardstick, ImagesWrittenByCc1541AreReadByteForByte) {
  if (!HaveTool("cc1541")) GTEST_SKIP() << "cc1541 is not installed";
  struct Case {
    const char* what;
    const char* image;
    const char* options;
    std::vector<File> files;
  };
  const Case cases[] = {
      {"D64",
       "a.d64",
       "",
       {{"hello", CbmPrg, 6000}, {"notes", CbmSeq, 254}, {"one", CbmPrg, 1}, {"x", CbmPrg, 255}}},
      {"40-track D64", "b.d64", "-4", {{"first", CbmPrg, 3000}, {"second", CbmSeq, 508}}},
      // 3 x 237 blocks: more than the first side holds.
      {"D71", "c.d71", "", {{"a", CbmPrg, 60000}, {"b", CbmPrg, 60000}, {"c", CbmPrg, 60000}}},
      {"D81 with a directory of three sectors", "d.d81", "", ManyFiles(20, 700)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const CbmDisk disk = ByCc1541(dir, c.image, c.files, c.options);
    ExpectFilesRead(disk, c.files);
    int free = 0;
    const std::vector<Listed> theirs = Cc1541Listing(dir.path / c.image, free);
    EXPECT_EQ(OurListing(disk), theirs);
    EXPECT_EQ(disk.FreeBlocks(), free);
    EXPECT_EQ(ShownCbmName(disk.DiskName()), "YARDSTICK");
  }
}

TEST(Yardstick, D71FilesCrossToTheSecondSide) {
  if (!HaveTool("cc1541")) GTEST_SKIP() << "cc1541 is not installed";
  TempDir dir;
  const std::vector<File> files = {
      {"a", CbmPrg, 60000}, {"b", CbmPrg, 60000}, {"c", CbmPrg, 60000}};
  const CbmDisk disk = ByCc1541(dir, "c.d71", files, "");
  bool damaged = false;
  bool second_side = false;
  for (const CbmDirEntry& e : disk.Directory(damaged)) {
    int t = e.Track, s = e.Sector;
    for (int n = 0; t != 0 && n < 1000; ++n) {
      second_side = second_side || t > 35;
      const std::size_t at = static_cast<std::size_t>(disk.Geometry().SectorIndex(t, s)) * 256;
      t = disk.Bytes()[at];
      s = disk.Bytes()[at + 1];
    }
  }
  EXPECT_TRUE(second_side);
}

TEST(Yardstick, ErrorBytesOnACc1541ImageMarkSectorsUnreadable) {
  if (!HaveTool("cc1541")) GTEST_SKIP() << "cc1541 is not installed";
  TempDir dir;
  const std::vector<File> files = {{"good", CbmPrg, 3000}, {"bad", CbmPrg, 3000}};
  const CbmDisk plain = ByCc1541(dir, "e.d64", files, "");
  bool damaged = false;
  const std::vector<CbmDirEntry> entries = plain.Directory(damaged);
  ASSERT_EQ(entries.size(), 2u);
  Bytes bytes = plain.Bytes();
  Bytes errors(683, 0x01);
  errors[static_cast<std::size_t>(
      plain.Geometry().SectorIndex(entries[1].Track, entries[1].Sector))] =
      0x05;            // a read error in the second file's first sector
  errors[600] = 0x02;  // and one where no file lies
  bytes.insert(bytes.end(), errors.begin(), errors.end());
  const auto geometry = DiskGeometry::ForImage(".d64", bytes.size());
  ASSERT_TRUE(geometry && geometry->HasErrorBytes());
  const CbmDisk with_errors(*geometry, bytes);
  Bytes data;
  EXPECT_EQ(with_errors.ReadChain(entries[0].Track, entries[0].Sector, data), ChainStatus::Ok);
  EXPECT_EQ(data, Content(3000, 0));
  data.clear();
  EXPECT_EQ(with_errors.ReadChain(entries[1].Track, entries[1].Sector, data),
            ChainStatus::BadSector);
  EXPECT_EQ(with_errors.FreeBlocks(), plain.FreeBlocks());
}

// --- Images written here, read by them ---------------------------------------------

// Takes the image apart with cbmconvert; the files by their names as it writes them.
std::map<std::string, Bytes> Extracted(const TempDir& dir, const fs::path& image) {
  const fs::path out = dir.path / "out";
  fs::create_directory(out);
  const std::string output =
      Run("cd '" + out.string() + "' && cbmconvert -N -d '" + image.string() + "'");
  std::map<std::string, Bytes> files;
  for (const auto& e : fs::directory_iterator(out))
    files[e.path().filename().string()] = ReadFile(e.path());
  EXPECT_FALSE(files.empty()) << output;
  return files;
}

TEST(Yardstick, ImagesWrittenHereAreReadByCc1541AndCbmconvert) {
  if (!HaveTool("cc1541") || !HaveTool("cbmconvert")) {
    GTEST_SKIP() << "cc1541 or cbmconvert is not installed";
  }
  struct Case {
    const char* what;
    DiskKind kind;
    bool forty_tracks;
    std::vector<File> files;
  };
  const Case cases[] = {
      {"D64",
       DiskKind::D64,
       false,
       {{"hello", CbmPrg, 6000}, {"notes", CbmSeq, 254}, {"one", CbmPrg, 1}, {"empty", CbmPrg, 0}}},
      {"40-track D64", DiskKind::D64, true, {{"first", CbmPrg, 3000}, {"second", CbmSeq, 509}}},
      {"D71",
       DiskKind::D71,
       false,
       {{"a", CbmPrg, 60000}, {"b", CbmPrg, 60000}, {"c", CbmPrg, 60000}}},
      {"D81 with a directory of three sectors", DiskKind::D81, false, ManyFiles(20, 700)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CbmDisk disk = CbmDisk::Format(c.kind, "DORVANE", "00");
    if (c.forty_tracks) {
      Bytes bytes = disk.Bytes();
      bytes.resize(196608);
      disk = CbmDisk(DiskGeometry(DiskKind::D64, 40, false), bytes);
    }
    for (std::size_t i = 0; i < c.files.size(); ++i) {
      CbmName name;
      ASSERT_TRUE(ToCbmName(c.files[i].name, name));
      ASSERT_TRUE(disk.WriteFile(name, c.files[i].type,
                                 Content(c.files[i].size, static_cast<unsigned>(i))));
    }
    TempDir dir;
    const char* extension = c.kind == DiskKind::D64   ? ".d64"
                            : c.kind == DiskKind::D71 ? ".d71"
                                                      : ".d81";
    const fs::path image = dir.path / (std::string("ours") + extension);
    WriteFile(image, disk.Bytes());

    int free = 0;
    EXPECT_EQ(Cc1541Listing(image, free), OurListing(disk));
    EXPECT_EQ(free, disk.FreeBlocks());

    // cbmconvert knows 35-track images only; the files lie there all the same.
    fs::path readable = image;
    if (c.forty_tracks) {
      readable = dir.path / "cut.d64";
      WriteFile(readable, Bytes(disk.Bytes().begin(), disk.Bytes().begin() + 174848));
    }
    std::map<std::string, Bytes> expected;
    for (std::size_t i = 0; i < c.files.size(); ++i) {
      expected[c.files[i].name + "." + TypeText(c.files[i].type)] =
          Content(c.files[i].size, static_cast<unsigned>(i));
    }
    EXPECT_EQ(Extracted(dir, readable), expected);
  }
}

}  // namespace
}  // namespace dorvane
