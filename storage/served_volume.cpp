#include "storage/served_volume.h"

#include <optional>
#include <utility>
#include <vector>

#include "formats/ascii_case.h"
#include "formats/cbm_disk.h"
#include "link/os_error.h"
#include "storage/wildcard.h"

namespace dorvane {
namespace {

// Entries that cannot be an image file: directories and what a load passes over.
constexpr std::uint32_t NotAFile = faDirectory | faHidden | faSystem | faVolumeLabel;

void Split(const std::string& path, std::string& dir_part, std::string& last) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    dir_part.clear();
    last = path;
  } else {
    dir_part = path.substr(0, slash == 0 ? 1 : slash);  // "/" alone stays the root
    last = path.substr(slash + 1);
  }
}

std::optional<DiskKind> NewImageKind(const std::string& name) {
  if (name.size() < 5) return std::nullopt;
  const std::string extension = name.substr(name.size() - 4);
  if (EqualsFolded(extension, ".d64")) return DiskKind::D64;
  if (EqualsFolded(extension, ".d71")) return DiskKind::D71;
  if (EqualsFolded(extension, ".d81")) return DiskKind::D81;
  return std::nullopt;
}

}  // namespace

std::unique_ptr<DirSearch> ServedVolume::FindFirst(const std::string& pattern, int& error) {
  return image_ ? image_->FindFirst(pattern, error) : host_.FindFirst(pattern, error);
}

std::unique_ptr<ReadableFile> ServedVolume::OpenRead(const DirEntry& entry) {
  return image_ ? image_->OpenRead(entry) : host_.OpenRead(entry);
}

std::unique_ptr<PendingFile> ServedVolume::CreateForSave(const std::string& name) {
  return image_ ? image_->CreateForSave(name) : host_.CreateForSave(name);
}

bool ServedVolume::Delete(const DirEntry& entry) {
  return image_ ? image_->Delete(entry) : host_.Delete(entry);
}

bool ServedVolume::Rename(const std::string& old_name, const std::string& new_name) {
  return image_ ? image_->Rename(old_name, new_name) : host_.Rename(old_name, new_name);
}

std::string ServedVolume::CurrentDirDisplay() const {
  return image_ ? image_->CurrentDirDisplay() : host_.CurrentDirDisplay();
}

bool ServedVolume::ReadDiskListing(DiskListing& listing) {
  return image_ ? image_->ReadDiskListing(listing) : host_.ReadDiskListing(listing);
}

std::string ServedVolume::TakeNotice() {
  if (!notice_.empty()) return std::exchange(notice_, std::string());
  return image_ ? image_->TakeNotice() : host_.TakeNotice();
}

bool ServedVolume::ChangeDir(const std::string& path) {
  if (!image_) return ChangeOnHost(path);
  // Inside an image the host stays in the directory that holds it: ".." is that
  // directory, and a path from the root or through ".." is taken from there.
  std::string rest;
  if (path.empty() || path[0] == '/') {
    rest = path;
  } else if (path == ".." || path.rfind("../", 0) == 0) {
    rest = path.size() > 3 ? path.substr(3) : "";
    if (rest.empty()) {
      image_.reset();
      notice_ = "Serving: " + host_.CurrentDirDisplay();
      return true;
    }
  } else {
    return false;  // an image holds no directories
  }
  std::unique_ptr<ImageVolume> inside = std::move(image_);
  if (ChangeOnHost(rest)) {
    if (!image_) notice_ = "Serving: " + host_.CurrentDirDisplay();
    return true;
  }
  if (!image_) image_ = std::move(inside);
  return false;
}

bool ServedVolume::ChangeOnHost(const std::string& path) {
  std::string dir_part;
  if (std::unique_ptr<ImageVolume> image = ReadImage(path, dir_part)) {
    image_ = std::move(image);
    // The operator sees which image file the C64 now works on, and again when it
    // leaves it; moves between host directories stay as quiet as ever.
    notice_ = "Serving: " + image_->CurrentDirDisplay();
    return true;
  }
  return host_.ChangeDir(path);
}

namespace {

// Reads the image file `name` whole: its bytes, its stamp (left as it is when the
// volume cannot stamp files) and whether it is read-only. A file that changes while
// it is read is read again. False when `name` is no file that can hold an image.
bool ReadImageFile(Volume& host, const std::string& name, std::vector<std::uint8_t>& bytes,
                   FileStamp& stamp, bool& read_only, std::string& notice) {
  for (int round = 0; round < 3; ++round) {
    FileStamp before;
    const bool stamped = host.StampOf(name, before);
    int error = 0;
    std::unique_ptr<DirSearch> search = host.FindFirst(name, error);
    DirEntry entry;
    if (!search || !search->Next(entry) || (entry.Attributes & NotAFile) != 0) return false;
    search.reset();
    // Far larger than any image: not worth reading.
    if (!HasImageExtension(entry.Name) || entry.Size > 4 * 1024 * 1024) return false;

    std::unique_ptr<ReadableFile> file = host.OpenRead(entry);
    if (!file) return false;
    bytes.assign(static_cast<std::size_t>(entry.Size) + 1, 0);
    std::size_t got = 0;
    try {
      while (got < bytes.size()) {
        const std::size_t n = file->Read(bytes.data() + got, bytes.size() - got);
        if (n == 0) break;
        got += n;
      }
    } catch (const OsError& e) {
      notice = "Can't read the image: " + OsErrorText(e.Code());
      return false;
    }
    bytes.resize(got);
    read_only = (entry.Attributes & faReadOnly) != 0;
    FileStamp after;
    if (!stamped) return true;
    if (host.StampOf(name, after) && after == before) {
      stamp = after;
      return true;
    }
  }
  return false;
}

}  // namespace

std::unique_ptr<ImageVolume> ServedVolume::ReadImage(const std::string& path,
                                                     std::string& dir_part) {
  std::string last;
  Split(path, dir_part, last);
  if (!HasImageExtension(last) || HasWildcard(last)) return nullptr;

  std::vector<std::uint8_t> bytes;
  FileStamp stamp;
  bool write_protected = false;
  if (!ReadImageFile(host_, path, bytes, stamp, write_protected, notice_)) return nullptr;
  // The file's own name, as the host lists it.
  int error = 0;
  std::string name = last;
  if (std::unique_ptr<DirSearch> search = host_.FindFirst(path, error)) {
    DirEntry entry;
    if (search->Next(entry)) name = entry.Name;
  }
  const bool stamped = stamp != FileStamp();
  std::unique_ptr<ImageVolume> image =
      ImageVolume::Open(name, std::move(bytes), write_protected,
                        [&host = host_, name] { return host.CreateForSave(name); });
  if (!image) return nullptr;

  // The host now goes to the directory that holds the image, so that saves into the
  // image replace the file there and ".." comes back to it.
  if (!dir_part.empty() && !host_.ChangeDir(dir_part)) return nullptr;
  std::string display = host_.CurrentDirDisplay();
  if (display.empty() || display.back() != '/') display += '/';
  image->SetDisplay(display + name);
  if (stamped) {
    // From now on the image keeps up with the file: whatever another program
    // does to it shows at the C64's next request.
    // Only in the directory that held it: when another program removes that
    // directory, the host steps up, where a file of the same name is another image.
    ImageVolume::HostFile file;
    file.probe = [&host = host_, name, dir = host_.CurrentDirDisplay()](FileStamp& now) {
      return host.StampOf(name, now) && host.CurrentDirDisplay() == dir;
    };
    file.read = [&host = host_, name](std::vector<std::uint8_t>& again, FileStamp& now,
                                      bool& read_only) {
      std::string ignored;
      return ReadImageFile(host, name, again, now, read_only, ignored);
    };
    image->FollowHost(std::move(file), stamp);
  }
  return image;
}

bool ServedVolume::MakeDir(const std::string& path) {
  if (image_) return false;
  std::string dir_part, last;
  Split(path, dir_part, last);
  const std::optional<DiskKind> kind = NewImageKind(last);
  if (!kind) return host_.MakeDir(path);

  int error = 0;
  if (std::unique_ptr<DirSearch> search = host_.FindFirst(path, error)) {
    DirEntry existing;
    while (search->Next(existing)) {
      if (EqualsFolded(existing.Name, last)) return false;
    }
  }
  std::string name = last.substr(0, last.size() - 4);
  for (char& c : name) c = static_cast<char>(UpperAscii(static_cast<unsigned char>(c)));
  if (name.size() > 16) name.resize(16);
  const CbmDisk blank = CbmDisk::Format(*kind, name, "00");

  std::unique_ptr<PendingFile> file = host_.CreateForSave(path);
  if (!file) return false;
  try {
    file->Write(blank.Bytes().data(), blank.Bytes().size());
    file->Commit();
  } catch (const OsError& e) {
    file->Discard();
    notice_ = "Can't create the image: " + OsErrorText(e.Code());
    return false;
  }
  return true;
}

}  // namespace dorvane
