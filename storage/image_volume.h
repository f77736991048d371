// A disk image (D64, D71, D81) or a tape archive (T64) served as a drive: the image
// is held in memory, searched with the drives' wildcard rules and listed in the
// disk's own order. Every change is made on a copy and written back whole through
// a PendingFile of the host volume, so the image file is replaced at once or not
// at all.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formats/cbm_disk.h"
#include "formats/t64_archive.h"
#include "storage/volume.h"

namespace dorvane {

// True when `name` ends in ".d64", ".d71", ".d81" or ".t64" (any case).
bool HasImageExtension(std::string_view name);

class ImageVolume : public Volume {
 public:
  // Opens a PendingFile that replaces the image file; nullptr when it cannot.
  using HostWriter = std::function<std::unique_ptr<PendingFile>()>;

  // The image in `bytes`, named by `file_name` (whose extension and the size decide
  // the kind); nullptr when the bytes are no image of that kind. A write-protected
  // image refuses every change.
  static std::unique_ptr<ImageVolume> Open(const std::string& file_name,
                                           std::vector<std::uint8_t> bytes, bool write_protected,
                                           HostWriter writer);
  // How CurrentDirDisplay names the image for the operator (its host path).
  void SetDisplay(std::string display) { display_ = std::move(display); }

  std::unique_ptr<DirSearch> FindFirst(const std::string& pattern, int& error) override;
  std::unique_ptr<ReadableFile> OpenRead(const DirEntry& entry) override;
  std::unique_ptr<PendingFile> CreateForSave(const std::string& name) override;
  bool Delete(const DirEntry& entry) override;
  bool Rename(const std::string& old_name, const std::string& new_name) override;
  // An image has no directories: both always refuse.
  bool ChangeDir(const std::string& path) override;
  bool MakeDir(const std::string& path) override;
  std::string CurrentDirDisplay() const override { return display_; }
  bool ReadDiskListing(DiskListing& listing) override;
  std::string TakeNotice() override;

  // The image's bytes as they are now.
  const std::vector<std::uint8_t>& Bytes() const;

  // Ends a save made by CreateForSave: stores `data` as `name` on a copy of the
  // disk and hands the copy to `host`. When it does not fit, `host` is discarded,
  // the notice says "Disk full" and the image stays as it was.
  void FinishSave(const CbmName& name, const std::vector<std::uint8_t>& data, bool overflowed,
                  PendingFile& host);

 private:
  ImageVolume(bool write_protected, HostWriter writer)
      : write_protected_(write_protected), writer_(std::move(writer)) {}

  // The used directory slots, or the tape's entries, as the server sees them.
  std::vector<DirEntry> Entries();
  // The directory slot a DirEntry's locator names, checked against its name.
  std::optional<CbmDirEntry> SlotOf(const DirEntry& entry) const;
  // The first slot whose name equals `name` (converted, any case).
  std::optional<CbmDirEntry> SlotNamed(std::string_view name) const;
  // Writes `changed` through a new PendingFile and keeps it; false when the host
  // refused, the image then unchanged.
  bool Store(CbmDisk changed);
  bool Writable() const { return disk_.has_value() && !write_protected_; }

  std::string display_;
  bool write_protected_;
  HostWriter writer_;
  std::optional<CbmDisk> disk_;
  std::optional<T64Archive> tape_;
  std::vector<std::uint8_t> tape_bytes_;
  std::string notice_;
};

}  // namespace dorvane
