#include "storage/image_volume.h"
#include "storage/listed_search.h"

#include <cerrno>
#include <utility>

#include "formats/ascii_case.h"
#include "formats/cbm_names.h"
#include "link/os_error.h"

namespace dorvane {
namespace {

// A save larger than the largest disk cannot fit; what comes beyond it is not kept.
constexpr std::size_t MaxSaveBytes = 822400;

class MemoryFile : public ReadableFile {
 public:
  explicit MemoryFile(std::vector<std::uint8_t> data) : data_(std::move(data)) {}
  std::size_t Read(std::uint8_t* buffer, std::size_t count) override {
    const std::size_t n = std::min(count, data_.size() - pos_);
    std::copy_n(data_.begin() + static_cast<std::ptrdiff_t>(pos_), n, buffer);
    pos_ += n;
    return n;
  }

 private:
  std::vector<std::uint8_t> data_;
  std::size_t pos_ = 0;
};

// A save into the image: the data gathers in memory, and only its end touches the
// host, through a PendingFile opened when the save began. Data beyond the room the
// disk had at the start is refused as a full disk refuses it, so the C64 hears of
// it at that block rather than never.
class ImageSave : public PendingFile {
 public:
  ImageSave(ImageVolume& volume, const CbmName& name, std::size_t room,
            std::unique_ptr<PendingFile> host)
      : volume_(volume), name_(name), room_(room), host_(std::move(host)) {}
  ~ImageSave() override { Discard(); }
  void Write(const std::uint8_t* data, std::size_t count) override {
    if (data_.size() + count > room_) {
      Discard();
      throw OsError(ENOSPC);
    }
    if (data_.size() + count > MaxSaveBytes) {
      overflowed_ = true;
      return;
    }
    data_.insert(data_.end(), data, data + count);
  }
  void Commit() override {
    if (!host_) return;
    volume_.FinishSave(name_, data_, overflowed_, std::move(host_));
  }
  void Discard() noexcept override {
    if (host_) host_->Discard();
    host_.reset();
  }

 private:
  ImageVolume& volume_;
  CbmName name_;
  std::size_t room_;  // bytes the disk can take for this file
  std::unique_ptr<PendingFile> host_;
  std::vector<std::uint8_t> data_;
  bool overflowed_ = false;
};

constexpr const char* TypeNames[] = {"DEL", "SEQ", "PRG", "USR", "REL", "CBM"};

std::string TypeName(std::uint8_t type) {
  return type < std::size(TypeNames) ? TypeNames[type] : "???";
}

// A 0x00 would end the listing's line on the C64 and so break every line after it.
std::string Listable(std::string name) {
  for (char& c : name) {
    if (c == '\0') c = '?';
  }
  return name;
}

// The disk name as the title shows it: its 0xA0 padding as spaces. A 0x00 becomes a
// space too, since it would end the title's line on the C64.
std::array<std::uint8_t, 16> ShownTitle(const std::uint8_t* bytes) {
  std::array<std::uint8_t, 16> shown;
  for (std::size_t i = 0; i < shown.size(); ++i) {
    shown[i] = bytes[i] == 0xA0 || bytes[i] == 0x00 ? 0x20 : bytes[i];
  }
  return shown;
}

// The two ID bytes, a space and the two DOS-type bytes, as stored but for a 0x00.
std::array<std::uint8_t, 5> ShownId(const std::array<std::uint8_t, 5>& stored) {
  std::array<std::uint8_t, 5> shown = stored;
  for (std::uint8_t& b : shown) {
    if (b == 0x00) b = 0x20;
  }
  shown[2] = 0x20;
  return shown;
}

}  // namespace

bool HasImageExtension(std::string_view name) {
  if (name.size() < 5) return false;
  const std::string_view extension = name.substr(name.size() - 4);
  for (const char* known : {".d64", ".d71", ".d81", ".t64"}) {
    if (EqualsFolded(extension, known)) return true;
  }
  return false;
}

std::unique_ptr<ImageVolume> ImageVolume::Open(const std::string& file_name,
                                               std::vector<std::uint8_t> bytes,
                                               bool write_protected, HostWriter writer) {
  if (!HasImageExtension(file_name)) return nullptr;
  std::unique_ptr<ImageVolume> volume(new ImageVolume(write_protected, std::move(writer)));
  volume->file_name_ = file_name;
  if (!volume->Parse(std::move(bytes))) return nullptr;
  return volume;
}

bool ImageVolume::Parse(std::vector<std::uint8_t> bytes) {
  const std::string_view extension = std::string_view(file_name_).substr(file_name_.size() - 4);
  if (EqualsFolded(extension, ".t64")) {
    T64Archive archive;
    if (!T64Archive::Parse(bytes, archive)) return false;
    disk_.reset();
    tape_ = std::move(archive);
    tape_bytes_ = std::move(bytes);
    return true;
  }
  const std::optional<DiskGeometry> geometry = DiskGeometry::ForImage(extension, bytes.size());
  if (!geometry) return false;
  tape_.reset();
  tape_bytes_.clear();
  disk_.emplace(*geometry, std::move(bytes));
  return true;
}

void ImageVolume::FollowHost(HostFile file, const FileStamp& read_stamp) {
  host_file_ = std::move(file);
  stamp_ = read_stamp;
}

bool ImageVolume::KeepUp() {
  if (!host_file_.probe) return true;
  FileStamp now;
  if (!host_file_.probe(now)) {
    notice_ = "Image gone from the host: " + display_;
    return false;
  }
  if (now == stamp_) return true;
  std::vector<std::uint8_t> bytes;
  bool read_only = false;
  if (!host_file_.read(bytes, now, read_only) || !Parse(std::move(bytes))) {
    notice_ = "No longer a disk image: " + display_;
    return false;
  }
  stamp_ = now;
  write_protected_ = read_only;
  return true;
}

bool ImageVolume::Apply(const std::function<bool(CbmDisk&)>& change,
                        std::unique_ptr<PendingFile> host) {
  // A few rounds at most: a program that rewrites the file without pause wins.
  for (int round = 0;; ++round) {
    if (!KeepUp()) return false;
    if (!Writable()) {
      if (disk_) notice_ = "Write protected: " + display_;
      return false;
    }
    CbmDisk changed = *disk_;
    if (!change(changed)) return false;
    if (!host && writer_) host = writer_();
    if (!host) return false;
    FileStamp stamp = stamp_;
    const bool guarded = host_file_.probe && host->ReplaceOnlyIf(&stamp);
    host->Write(changed.Bytes().data(), changed.Bytes().size());
    try {
      host->Commit();
    } catch (const SaveRefused&) {
      // Another program changed the file after it was read here: the change is
      // made again on what that program left.
      host.reset();
      if (!guarded || round == 2) throw;
      continue;
    }
    disk_ = std::move(changed);
    if (guarded) stamp_ = stamp;
    return true;
  }
}

const std::vector<std::uint8_t>& ImageVolume::Bytes() const {
  return disk_ ? disk_->Bytes() : tape_bytes_;
}

std::vector<DirEntry> ImageVolume::Entries() {
  std::vector<DirEntry> entries;
  if (tape_) {
    for (std::size_t i = 0; i < tape_->Entries().size(); ++i) {
      const T64Entry& file = tape_->Entries()[i];
      DirEntry entry;
      entry.Name = PetsciiToHost(file.ShownName());
      entry.Size = file.Length + 2;
      entry.Attributes = faReadOnly;
      entry.Locator = std::to_string(i);
      entries.push_back(std::move(entry));
    }
    return entries;
  }
  bool damaged = false;
  const std::vector<CbmDirEntry> slots = disk_->Directory(damaged);
  for (std::size_t i = 0; i < slots.size(); ++i) {
    const CbmDirEntry& slot = slots[i];
    DirEntry entry;
    entry.Name = HostCbmName(slot.Name);
    entry.Size = static_cast<std::uint64_t>(slot.Blocks) * 254;
    // Only closed files of a kind that holds data load; a DEL entry, a file never
    // closed and a partition are passed over as a drive passes over them.
    const std::uint8_t type = slot.FileType();
    if (type == CbmDel || type > CbmRel || !slot.Closed()) entry.Attributes |= faSystem;
    if (slot.Locked()) entry.Attributes |= faReadOnly;
    entry.Locator = std::to_string(i);
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::unique_ptr<DirSearch> ImageVolume::FindFirst(const std::string& pattern, int& error) {
  error = 0;
  if (!KeepUp() || pattern.find('/') != std::string::npos) {
    error = ENOENT;  // an image has no directories to search in
    return nullptr;
  }
  std::vector<DirEntry> matches;
  bool damaged = false;
  const std::vector<CbmDirEntry> slots =
      disk_ ? disk_->Directory(damaged) : std::vector<CbmDirEntry>();
  for (DirEntry& entry : Entries()) {
    if (!MatchesCbmPattern(pattern, entry.Name)) continue;
    if (disk_ && (entry.Attributes & faSystem) == 0) {
      // The exact size, for the load's progress bar; the chain is checked again
      // when the file is opened.
      const CbmDirEntry& slot = slots[std::stoul(entry.Locator)];
      std::size_t bytes = 0;
      if (disk_->MeasureChain(slot.Track, slot.Sector, bytes) == ChainStatus::Ok)
        entry.Size = bytes;
    }
    matches.push_back(std::move(entry));
  }
  return std::make_unique<ListedSearch>(std::move(matches));
}

std::optional<CbmDirEntry> ImageVolume::SlotOf(const DirEntry& entry) const {
  if (!disk_) return std::nullopt;
  bool damaged = false;
  const std::vector<CbmDirEntry> slots = disk_->Directory(damaged);
  std::size_t index = 0;
  try {
    index = std::stoul(entry.Locator);
  } catch (const std::exception&) {
    return std::nullopt;
  }
  if (index >= slots.size() || HostCbmName(slots[index].Name) != entry.Name) return std::nullopt;
  return slots[index];
}

std::optional<CbmDirEntry> ImageVolume::SlotNamed(std::string_view name) const {
  bool damaged = false;
  for (const CbmDirEntry& slot : disk_->Directory(damaged)) {
    if (EqualsFolded(HostCbmName(slot.Name), name)) return slot;
  }
  return std::nullopt;
}

std::unique_ptr<ReadableFile> ImageVolume::OpenRead(const DirEntry& entry) {
  if (tape_) {
    std::size_t index = 0;
    try {
      index = std::stoul(entry.Locator);
    } catch (const std::exception&) {
      return nullptr;
    }
    if (index >= tape_->Entries().size()) return nullptr;
    return std::make_unique<MemoryFile>(tape_->FileData(tape_bytes_, tape_->Entries()[index]));
  }
  const std::optional<CbmDirEntry> slot = SlotOf(entry);
  if (!slot) return nullptr;
  // The whole chain is followed before the C64 hears "ready", so a damaged file is
  // refused at its open instead of breaking off halfway.
  std::vector<std::uint8_t> data;
  switch (disk_->ReadChain(slot->Track, slot->Sector, data)) {
    case ChainStatus::Ok:
      return std::make_unique<MemoryFile>(std::move(data));
    case ChainStatus::OutOfRange:
      notice_ = "Damaged image: a link leads outside the disk";
      break;
    case ChainStatus::Loop:
      notice_ = "Damaged image: a sector chain loops";
      break;
    case ChainStatus::BadSector:
      notice_ = "Damaged image: a sector is unreadable";
      break;
  }
  return nullptr;
}

std::unique_ptr<PendingFile> ImageVolume::CreateForSave(const std::string& name) {
  CbmName stored;
  if (!KeepUp()) return nullptr;
  if (disk_ && write_protected_) notice_ = "Write protected: " + display_;
  if (!Writable() || name.find('/') != std::string::npos || !ToCbmName(name, stored)) {
    return nullptr;
  }
  const std::optional<CbmDirEntry> existing = SlotNamed(name);
  if (existing && existing->Locked()) return nullptr;
  std::unique_ptr<PendingFile> host = writer_ ? writer_() : nullptr;
  if (!host) return nullptr;
  // The file it replaces gives its sectors back.
  CbmDisk emptied = *disk_;
  if (existing) emptied.Scratch(*existing);
  const auto room = static_cast<std::size_t>(std::max(emptied.FreeBlocks(), 0)) * 254;
  return std::make_unique<ImageSave>(*this, stored, room, std::move(host));
}

void ImageVolume::FinishSave(const CbmName& name, const std::vector<std::uint8_t>& data,
                             bool overflowed, std::unique_ptr<PendingFile> host) {
  // Saving over a name replaces that file, as a drive's "@:" does; a file locked
  // meanwhile is kept. Throws OsError when the host refuses; the image is then
  // unchanged.
  const bool stored = !overflowed && Apply(
                                         [&](CbmDisk& changed) {
                                           const std::optional<CbmDirEntry> existing =
                                               SlotNamed(ShownCbmName(name));
                                           if (existing && existing->Locked()) return false;
                                           if (existing) changed.Scratch(*existing);
                                           return changed.WriteFile(name, CbmPrg, data);
                                         },
                                         std::move(host));
  if (!stored && notice_.empty()) notice_ = "Disk full";
}

bool ImageVolume::Store(const std::function<bool(CbmDisk&)>& change) {
  try {
    return Apply(change, nullptr);
  } catch (const OsError& error) {
    notice_ = "Can't write the image: " + OsErrorText(error.Code());
  } catch (const SaveRefused& refused) {
    notice_ = "Can't write the image: " + std::string(refused.what());
  }
  return false;
}

bool ImageVolume::Delete(const DirEntry& entry) {
  if (!Writable()) return false;
  return Store([&](CbmDisk& changed) {
    // The entry by its place, or by its name when the host moved it since.
    std::optional<CbmDirEntry> slot = SlotOf(entry);
    if (!slot) slot = SlotNamed(entry.Name);
    if (!slot || slot->Locked()) return false;
    changed.Scratch(*slot);
    return true;
  });
}

bool ImageVolume::Rename(const std::string& old_name, const std::string& new_name) {
  CbmName stored;
  if (!Writable() || !ToCbmName(new_name, stored) || new_name.find('/') != std::string::npos) {
    return false;
  }
  return Store([&](CbmDisk& changed) {
    const std::optional<CbmDirEntry> slot = SlotNamed(old_name);
    if (!slot || SlotNamed(new_name)) return false;
    changed.Rename(*slot, stored);
    return true;
  });
}

bool ImageVolume::ChangeDir(const std::string&) { return false; }

bool ImageVolume::MakeDir(const std::string&) { return false; }

bool ImageVolume::ReadDiskListing(DiskListing& listing) {
  listing = DiskListing();
  if (!KeepUp()) return false;
  if (tape_) {
    listing.Title = ShownTitle(tape_->TapeName().data());
    listing.IdField = {'T', '6', '4', ' ', ' '};
    for (const T64Entry& file : tape_->Entries()) {
      listing.Entries.push_back(
          {Listable(file.ShownName()), file.Blocks(), TypeName(file.CbmType()), false, false});
    }
    return true;
  }
  const CbmName name = disk_->DiskName();
  listing.Title = ShownTitle(name.data());
  listing.IdField = ShownId(disk_->IdField());
  bool damaged = false;
  for (const CbmDirEntry& slot : disk_->Directory(damaged)) {
    listing.Entries.push_back({Listable(ShownCbmName(slot.Name)), slot.Blocks,
                               TypeName(slot.FileType()), slot.Locked(), !slot.Closed()});
  }
  if (damaged) notice_ = "Damaged image: the directory chain is broken";
  listing.FreeBlocks = static_cast<std::uint16_t>(std::min(disk_->FreeBlocks(), 0xFFFF));
  return true;
}

std::string ImageVolume::TakeNotice() { return std::exchange(notice_, std::string()); }

}  // namespace dorvane
