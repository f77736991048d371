// The soak's final verdict: the served directory must hold exactly what completed
// saves wrote, and no save may leave its temporary file behind.
#include "bench/soak_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "bench/temp_dir.h"

namespace dorvane::bench {
namespace {

namespace fs = std::filesystem;

void WriteFile(const fs::path& path, const Bytes& data) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

bool Mentions(const std::vector<std::string>& problems, const std::string& text) {
  return std::any_of(problems.begin(), problems.end(),
                     [&](const std::string& p) { return p.find(text) != std::string::npos; });
}

class SoakModelTest : public ::testing::Test {
 protected:
  SoakModelTest() : dir("dorvane-model-test-") {
    model.Put("one.prg", {1, 2, 3});
    model.Put("empty.seq", {});
    WriteFile(dir.Path() / "one.prg", {1, 2, 3});
    WriteFile(dir.Path() / "empty.seq", {});
  }
  TempDir dir;
  FileModel model;
};

TEST_F(SoakModelTest, AMatchingDirectoryHasNoProblems) {
  EXPECT_TRUE(model.Compare(dir.Path()).empty());
}

TEST_F(SoakModelTest, EveryKindOfDifferenceIsReported) {
  struct Case {
    const char* what;
    void (*spoil)(const fs::path& root);
    const char* mention;
  };
  const Case cases[] = {
      {"a byte changed",
       [](const fs::path& r) {
         WriteFile(r / "one.prg", {1, 9, 3});
       },
       "one.prg: byte 1 is 0x09 instead of 0x02"},
      {"cut short",
       [](const fs::path& r) {
         WriteFile(r / "one.prg", {1, 2});
       },
       "one.prg: it holds 2 bytes instead of 3"},
      {"removed", [](const fs::path& r) { fs::remove(r / "empty.seq"); },
       "empty.seq: it is missing"},
      {"an unknown file", [](const fs::path& r) { WriteFile(r / "ghost.prg", {0}); },
       "no completed save wrote: ghost.prg"},
      {"a temporary file", [](const fs::path& r) { WriteFile(r / ".dorvane-save-x1", {0}); },
       "temporary file was left behind: .dorvane-save-x1"},
      {"a temporary file below",
       [](const fs::path& r) {
         fs::create_directory(r / "sub");
         WriteFile(r / "sub" / ".dorvane-save-x2", {0});
       },
       "temporary file was left behind: sub/.dorvane-save-x2"},
  };
  for (const Case& c : cases) {
    TempDir root("dorvane-model-test-");
    WriteFile(root.Path() / "one.prg", {1, 2, 3});
    WriteFile(root.Path() / "empty.seq", {});
    c.spoil(root.Path());
    const std::vector<std::string> problems = model.Compare(root.Path());
    EXPECT_TRUE(Mentions(problems, c.mention))
        << c.what << ": " << ::testing::PrintToString(problems);
  }
}

TEST(SoakModelDifferenceTest, DescribesTheFirstDifference) {
  EXPECT_EQ(DescribeDifference({1, 2}, Bytes{1, 2}), "");
  EXPECT_EQ(DescribeDifference({}, Bytes{}), "");
  EXPECT_EQ(DescribeDifference({1, 2}, std::nullopt), "it is missing");
  EXPECT_EQ(DescribeDifference({}, Bytes{0}), "it holds 1 bytes instead of 0");
  EXPECT_EQ(DescribeDifference({1, 2, 3}, Bytes{1, 2, 0xFF}), "byte 2 is 0xFF instead of 0x03");
}

TEST(SoakModelDifferenceTest, ReadsWholeFilesAndNotesMissingOnes) {
  TempDir dir("dorvane-model-test-");
  Bytes data(70000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7);
  WriteFile(dir.Path() / "big", data);
  EXPECT_EQ(ReadWholeFile(dir.Path() / "big"), data);
  EXPECT_FALSE(ReadWholeFile(dir.Path() / "absent").has_value());
}

}  // namespace
}  // namespace dorvane::bench
