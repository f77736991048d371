// A disk image (D64, D71, D81) or a tape archive (T64) served as a drive: the image
// is held in memory, searched with the drives' wildcard rules and listed in the
// disk's own order. Every change is made on a copy and written back whole through
// a PendingFile of the host volume, so the image file is replaced at once or not
// at all. The file on the host is the truth: when it follows one (FollowHost), every
// request first reads the file again if another program changed it, a change is
// made on the disk as the file holds it now, and the file is replaced only while
// it is still the one read.
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

  // The image's file on the host: `probe` gives its stamp now (false when it is
  // gone), `read` its bytes, their stamp and whether it is read-only (false when it
  // cannot be read).
  struct HostFile {
    std::function<bool(FileStamp&)> probe;
    std::function<bool(std::vector<std::uint8_t>&, FileStamp&, bool&)> read;
  };
  // Keeps up with `file`, whose stamp was `read_stamp` when the bytes were read.
  void FollowHost(HostFile file, const FileStamp& read_stamp);

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
                  std::unique_ptr<PendingFile> host);

 private:
  ImageVolume(bool write_protected, HostWriter writer)
      : write_protected_(write_protected), writer_(std::move(writer)) {}

  // Takes `bytes` as the image, of the kind its file name says; false, changing
  // nothing, when they are no such image.
  bool Parse(std::vector<std::uint8_t> bytes);
  // Reads the host's file again when it changed since it was read. False, with a
  // notice, when it is gone or no longer an image: the C64 then gets nothing from
  // it until the file is back, and no change is written.
  bool KeepUp();
  // Makes `change` on a copy of the disk as the host has it now and writes the
  // copy through `host` (a new PendingFile when null). When the host's file changed
  // in the meantime, it is read again and the change made once more on it. False
  // when `change` declines or the host is gone; throws what the PendingFile throws.
  bool Apply(const std::function<bool(CbmDisk&)>& change, std::unique_ptr<PendingFile> host);

  // The used directory slots, or the tape's entries, as the server sees them.
  std::vector<DirEntry> Entries();
  // The directory slot a DirEntry's locator names, checked against its name.
  std::optional<CbmDirEntry> SlotOf(const DirEntry& entry) const;
  // The first slot whose name equals `name` (converted, any case).
  std::optional<CbmDirEntry> SlotNamed(std::string_view name) const;
  // Apply() with a new PendingFile, a failure of the host becoming a notice.
  bool Store(const std::function<bool(CbmDisk&)>& change);
  bool Writable() const { return disk_.has_value() && !write_protected_; }

  std::string display_;
  std::string file_name_;
  bool write_protected_;
  HostWriter writer_;
  HostFile host_file_;
  FileStamp stamp_;
  std::optional<CbmDisk> disk_;
  std::optional<T64Archive> tape_;
  std::vector<std::uint8_t> tape_bytes_;
  std::string notice_;
};

}  // namespace dorvane
