// Throws hostile disk images and tape archives at the image volume: every link,
// BAM byte and directory entry may be wrong. Besides the sanitizers it traps when a
// change to the image alters its size, or when a listing, search, load, save,
// scratch or rename does not end.
//
// Input: the first byte picks the kind (D64, D64 with error bytes, 40-track D64,
// D71, D81, T64); the rest overlays a freshly formatted disk from its header sector
// on (wrapping around the image), or is the whole tape archive.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "formats/cbm_disk.h"
#include "storage/image_volume.h"

namespace {

using namespace dorvane;

class MemoryPending : public PendingFile {
 public:
  explicit MemoryPending(std::vector<std::uint8_t>& into) : into_(into) {}
  void Write(const std::uint8_t* data, std::size_t count) override {
    buffer_.insert(buffer_.end(), data, data + count);
  }
  void Commit() override { into_ = buffer_; }
  void Discard() noexcept override {}

 private:
  std::vector<std::uint8_t>& into_;
  std::vector<std::uint8_t> buffer_;
};

struct Kind {
  const char* file;
  DiskKind disk;
  std::size_t size;
  std::size_t header;  // offset of the header sector
};

constexpr Kind Kinds[] = {
    {"a.d64", DiskKind::D64, 174848, 0x16500}, {"a.d64", DiskKind::D64, 175531, 0x16500},
    {"a.d64", DiskKind::D64, 196608, 0x16500}, {"a.d71", DiskKind::D71, 349696, 0x16500},
    {"a.d81", DiskKind::D81, 819200, 0x61800}, {"a.t64", DiskKind::D64, 0, 0},
};

void Trap(bool fault) {
  if (fault) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || size > 64 * 1024) return 0;
  const Kind& kind = Kinds[data[0] % std::size(Kinds)];
  std::vector<std::uint8_t> bytes;
  if (kind.size == 0) {
    bytes.assign(data + 1, data + size);
  } else {
    bytes = CbmDisk::Format(kind.disk, "FUZZ", "00").Bytes();
    bytes.resize(kind.size, 0x01);
    for (std::size_t i = 1; i < size; ++i) bytes[(kind.header + i - 1) % bytes.size()] = data[i];
  }
  const std::size_t image_size = bytes.size();

  std::vector<std::uint8_t> written;
  std::unique_ptr<ImageVolume> volume = ImageVolume::Open(
      kind.file, bytes, false, [&written] { return std::make_unique<MemoryPending>(written); });
  if (!volume) return 0;

  DiskListing listing;
  Trap(!volume->ReadDiskListing(listing));
  int error = 0;
  std::vector<DirEntry> entries;
  if (auto search = volume->FindFirst("*", error)) {
    DirEntry entry;
    while (search->Next(entry)) entries.push_back(entry);
  }
  for (const DirEntry& entry : entries) {
    if (auto file = volume->OpenRead(entry)) {
      std::uint8_t block[255];
      std::size_t total = 0;
      while (std::size_t n = file->Read(block, sizeof block)) {
        total += n;
        Trap(total > 16 * 1024 * 1024);
      }
    }
  }
  if (auto save = volume->CreateForSave("new")) {
    const std::vector<std::uint8_t> content(size * 3, 0x55);
    save->Write(content.data(), content.size());
    save->Commit();
  }
  if (!entries.empty()) volume->Delete(entries.front());
  if (entries.size() > 1) volume->Rename(entries.back().Name, "renamed");
  volume->TakeNotice();
  Trap(volume->Bytes().size() != image_size);
  Trap(!written.empty() && written.size() != image_size);
  return 0;
}
