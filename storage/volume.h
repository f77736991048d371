// storage/: everything the C64 works on, behind the Volume below: the host
// directory tree (posix_volume), disk images and tape archives (image_volume) and
// the volume that steps between them (served_volume). It may use formats/,
// platform/ and link/os_error.h; a new kind of storage is a new Volume here.
//
// The service never touches the host file system except through a Volume.
//
// Names and paths from the C64 are 8-bit texts. "/" separates path components; a
// leading "/" starts at the volume's root; ".." never climbs above the root; every
// other byte (0x5C included) is an ordinary character of a name. Names match
// without regard to case, and an entry may also be named by its alternate name or
// by the name it lists as.
// Entries whose names begin with "." belong to the host: they may be listed, but
// no request creates, replaces, deletes, renames or enters one.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "formats/cbm_file_type.h"

namespace dorvane {

// Entry attributes, with the bit values the listing and the searches test.
inline constexpr std::uint32_t faReadOnly = 0x01;
inline constexpr std::uint32_t faHidden = 0x02;
inline constexpr std::uint32_t faSystem = 0x04;
inline constexpr std::uint32_t faVolumeLabel = 0x08;
inline constexpr std::uint32_t faDirectory = 0x10;
inline constexpr std::uint32_t faArchive = 0x20;

struct DirEntry {
  std::string Name;  // the entry's own name, without a directory part
  // The name the entry is listed under when it cannot list as itself: an 8.3 name
  // for a name longer than 16 characters as listed, or for one that lists the same
  // as one before it (differing only in case, or only once mapped); else empty.
  std::string AlternateName;
  std::uint64_t Size = 0;  // bytes of the C64 file; 0 for directories
  std::uint32_t Attributes = 0;
  // Where the volume finds this very entry again (the directory the search ran in
  // plus the name). Opaque to the service; hand it back to OpenRead or Delete.
  std::string Locator;
  // The type a file lists with; a plain host file is a program. Directories list
  // as directories whatever this says.
  CbmFileType Type = CbmFileType::Prg;
  // Bytes of a container's own header before the C64 file's data: a load starts
  // after them. 0 for a plain file.
  std::uint32_t HeaderSize = 0;
  // The C64 bytes the entry lists as when it has no alternate name; empty when that
  // is its own name.
  std::string ListedName = {};
};

// One directory search. Yields "." and ".." first where they exist (never at the
// root), then the matching entries in case-insensitive name order.
class DirSearch {
 public:
  virtual ~DirSearch() = default;
  // The next match; false when there are no more.
  virtual bool Next(DirEntry& entry) = 0;
};

// A file opened for a load. Closed when destroyed.
class ReadableFile {
 public:
  virtual ~ReadableFile() = default;
  // Reads up to `count` bytes; returns how many were read, 0 at the end of the file.
  // Throws OsError when the read fails.
  virtual std::size_t Read(std::uint8_t* buffer, std::size_t count) = 0;
};

// Thrown by PendingFile::Commit when the target may no longer be replaced: another
// program made it read-only, or put a directory in its place, while the C64 was
// saving. The temporary file is gone and the target untouched; what() says why,
// in a few words for the log.
class SaveRefused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Tells one state of a host file from another: the same file, untouched since, has
// the same stamp; a write, a chmod, a rename over it or a new file in its place
// changes it.
struct FileStamp {
  std::uint64_t Device = 0;
  std::uint64_t Inode = 0;
  std::uint64_t Size = 0;
  std::int64_t ModifiedNs = 0;
  std::int64_t ChangedNs = 0;
  bool operator==(const FileStamp&) const = default;
};

// A save in progress. The data goes to a temporary file beside the target, which
// replaces the target only at Commit; until then the target is untouched.
// Destroying an uncommitted PendingFile discards it.
class PendingFile {
 public:
  virtual ~PendingFile() = default;
  // Makes Commit replace the target only while it is still the file `stamp`
  // describes, checked just before the replace (SaveRefused when it changed or is
  // gone), and then sets `*stamp` to the file put in its place. `stamp` must live
  // until Commit returns. False when this kind of file cannot check.
  virtual bool ReplaceOnlyIf(FileStamp* stamp) {
    (void)stamp;
    return false;
  }
  // Appends all `count` bytes; throws OsError on failure or a short write.
  virtual void Write(const std::uint8_t* data, std::size_t count) = 0;
  // Flushes and closes the temporary file and puts it in the target's place.
  // Throws OsError when that fails, SaveRefused when the target may no longer be
  // replaced; either way the temporary file is removed first.
  virtual void Commit() = 0;
  // Removes the temporary file; the target stays as it was. Safe to call twice.
  virtual void Discard() noexcept = 0;
};

// One line of a listing that a volume prepares itself.
struct ListedEntry {
  std::string Name;          // the bytes shown between the quotes
  std::uint64_t Blocks = 0;  // the line number (its low 16 bits)
  std::string Type;          // three characters: "PRG", "DIR", "SEQ", ...
  bool Locked = false;       // "<" after the type
  bool Unclosed = false;     // "*" just before the type: a file never closed
};

// The listing of a volume whose directory is a disk of its own (a disk image): the
// title line's fields, the entries in the disk's order and the free blocks.
struct DiskListing {
  std::array<std::uint8_t, 16> Title{};   // between the quotes, as shown
  std::array<std::uint8_t, 5> IdField{};  // after the closing quote and a space
  std::vector<ListedEntry> Entries;
  std::uint16_t FreeBlocks = 0;
};

class Volume {
 public:
  virtual ~Volume() = default;

  // Starts a search for `pattern`: an optional directory part, then a name that may
  // hold "*" and "?" ("*.*" matches every name). Matches real and alternate names.
  // A name without "*" or "?" yields at most the one entry it names, found the way
  // every other request finds a name: the exact name, then the one entry listed
  // under it without regard to case, then the alternate name.
  // Returns nullptr and sets `error` (an errno value) when the directory part does
  // not lead to a readable directory inside the volume. A search that merely
  // matches nothing is returned and yields nothing.
  virtual std::unique_ptr<DirSearch> FindFirst(const std::string& pattern, int& error) = 0;

  // Opens a file that a search found, for reading only. nullptr when it cannot.
  virtual std::unique_ptr<ReadableFile> OpenRead(const DirEntry& entry) = 0;

  // Prepares a save of `name` (optional directory part, then a literal name).
  // nullptr when it cannot be saved: empty or wildcard name, a missing directory,
  // a target that is a directory or a read-only file, or no room for the
  // temporary file. The entry the name resolves to (as in FindFirst) is the one
  // replaced. The data lands in the directory resolved here, or nowhere.
  virtual std::unique_ptr<PendingFile> CreateForSave(const std::string& name) = 0;

  // Removes what a search found: an empty directory, or a file that is not
  // read-only. False when the system refuses.
  virtual bool Delete(const DirEntry& entry) = 0;

  // Renames or moves `old_name` to `new_name` (both may have directory parts).
  // False, touching neither, when the old one is missing, the new one exists,
  // either is empty, or the system refuses.
  virtual bool Rename(const std::string& old_name, const std::string& new_name) = 0;

  // Makes `path` the current directory. An empty path is the root. False, changing
  // nothing, when it leads to no directory inside the volume.
  virtual bool ChangeDir(const std::string& path) = 0;

  // The stamp of the file a save of `name` would replace; false when there is none
  // or the volume cannot tell.
  virtual bool StampOf(const std::string& name, FileStamp& stamp) {
    (void)name;
    (void)stamp;
    return false;
  }

  // Creates the last component of `path`; false when it exists, its parent is
  // missing, or the path is empty.
  virtual bool MakeDir(const std::string& path) = 0;

  // The current directory for the operator's eyes (a host path).
  virtual std::string CurrentDirDisplay() const = 0;

  // Fills `listing` and returns true when the current directory is a disk of its
  // own, listed as a drive lists it. False (the default) for a directory whose
  // listing is built from a search for "*.*".
  virtual bool ReadDiskListing(DiskListing& listing) {
    (void)listing;
    return false;
  }

  // A line for the operator's log left by the last PendingFile::Commit that
  // returned without storing the file (a disk image too full for it: "Disk full"),
  // or an empty text. Taking it clears it.
  virtual std::string TakeNotice() { return {}; }
};

}  // namespace dorvane
