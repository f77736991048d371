// formats/: pure byte code (disk images, tape archives, P00 files, C64 names),
// from bytes to bytes. It includes nothing but the standard library: no system
// call, no file, nothing of the rest of Dorvane.
//
// A Commodore disk (D64, D71, D81) held as bytes: its header, its block availability
// map (BAM), its directory and its files' sector chains. Everything read from the
// bytes is checked before use, since an image may be damaged or made to harm: a link
// outside the disk, a chain that loops or a sector the error bytes mark as unreadable
// ends a read with an error, never with a crash, a hang or a write outside the bytes.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "formats/disk_geometry.h"

namespace dorvane {

// The 16 bytes of a stored name, padded with 0xA0.
using CbmName = std::array<std::uint8_t, 16>;

// File types in the low bits of an entry's type byte.
inline constexpr std::uint8_t CbmDel = 0;
inline constexpr std::uint8_t CbmSeq = 1;
inline constexpr std::uint8_t CbmPrg = 2;
inline constexpr std::uint8_t CbmUsr = 3;
inline constexpr std::uint8_t CbmRel = 4;
inline constexpr std::uint8_t CbmLockedBit = 0x40;
inline constexpr std::uint8_t CbmClosedBit = 0x80;

// One used slot of the directory.
struct CbmDirEntry {
  std::uint8_t TypeByte = 0;  // 0x00 would be a free slot; never one here
  int Track = 0;              // the file's first sector
  int Sector = 0;
  CbmName Name{};
  std::uint16_t Blocks = 0;  // as stored: what the listing shows
  int SideTrack = 0;         // REL files: first side sector, else 0
  int SideSector = 0;
  // Where the slot itself lies, for scratching and renaming.
  int SlotTrack = 0;
  int SlotSector = 0;
  int SlotIndex = 0;

  std::uint8_t FileType() const { return TypeByte & 0x0F; }
  bool Locked() const { return (TypeByte & CbmLockedBit) != 0; }
  bool Closed() const { return (TypeByte & CbmClosedBit) != 0; }
};

enum class ChainStatus {
  Ok,
  OutOfRange,  // a link to a track or sector the disk does not have
  Loop,        // a link back to a sector the chain already passed
  BadSector,   // a sector the image's error bytes mark as unreadable
};

class CbmDisk {
 public:
  // Takes the image's bytes; `bytes.size()` must equal `geometry.ImageSize()`.
  CbmDisk(DiskGeometry geometry, std::vector<std::uint8_t> bytes);

  // A blank disk as a drive formats it: empty directory, every sector but the
  // header's, BAM's and first directory sector's free. `name` is cut at 16 bytes;
  // `id` is the two ID bytes.
  static CbmDisk Format(DiskKind kind, const std::string& name, const std::string& id);

  const DiskGeometry& Geometry() const { return geometry_; }
  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

  // Header fields as stored.
  CbmName DiskName() const;
  // ID, the byte between, and the DOS type: five bytes, e.g. "00", 0xA0, "2A".
  std::array<std::uint8_t, 5> IdField() const;
  // The free blocks a drive reports: the directory track (and a 1571's second BAM
  // track when its bitmap says so) is not counted, nor tracks 36-40 of a D64.
  int FreeBlocks() const;

  // The used slots in directory order. `damaged` is set when the directory chain
  // ended in a bad link, a loop or an unreadable sector, or ran on for more sectors
  // than its track holds; the slots read before that are returned.
  std::vector<CbmDirEntry> Directory(bool& damaged) const;

  // Follows a file's chain from (track, sector) and appends its data to `data`.
  // On an error `data` holds what was read before it.
  ChainStatus ReadChain(int track, int sector, std::vector<std::uint8_t>& data) const;
  // Checks the same chain and counts its data bytes without copying them.
  ChainStatus MeasureChain(int track, int sector, std::size_t& bytes) const;

  // Writes a new closed file of `type` named `name` as a drive would and enters it
  // in the first free directory slot. False, the disk unchanged, when the data or
  // a needed directory sector does not fit. Whatever the BAM says, it never takes a
  // sector that the header, the BAM, the directory chain or a listed file's chains
  // use: a BAM that lies costs room, never a file or a directory entry.
  bool WriteFile(const CbmName& name, std::uint8_t type, const std::vector<std::uint8_t>& data);
  // Frees the file's sectors (and a REL file's side sectors) and marks its slot
  // scratched. The links are followed only as far as they are sound.
  void Scratch(const CbmDirEntry& entry);
  void Rename(const CbmDirEntry& entry, const CbmName& name);

 private:
  struct BamTrack {
    std::uint8_t* Count = nullptr;  // nullptr: a track the BAM does not cover
    std::uint8_t* Bits = nullptr;
  };
  BamTrack Bam(int track);
  bool IsFree(int track, int sector) const;
  void Allocate(int track, int sector);
  void Release(int track, int sector);
  // A sector a write may take: free in the BAM, readable, not a BAM sector, and not
  // in `in_use_`.
  bool Usable(int track, int sector) const;
  // Every sector that the header, the BAM, the directory chain or a used slot's
  // chains (a REL file's side sectors too) reach, followed as far as sound.
  std::vector<bool> SectorsInUse() const;
  bool InUse(int track, int sector) const;
  // The next sector for a chain after (track, sector), as a drive picks it; false
  // when the disk is full. `track` 0 asks for a file's first sector.
  bool NextFileSector(int& track, int& sector) const;
  bool FindFreeOnTrack(int track, int from, int& sector) const;
  // A free directory slot, appending a directory sector when all are used.
  bool FreeSlot(int& slot_track, int& slot_sector, int& slot_index);

  // Follows a chain with every check, handing each sector's data to `take` and
  // each sector reached (an unreadable one too) to `visit`.
  template <typename Take, typename Visit>
  ChainStatus Walk(int track, int sector, Take take, Visit visit) const;

  std::uint8_t* At(int track, int sector);
  const std::uint8_t* At(int track, int sector) const;
  bool Readable(int track, int sector) const;
  int Interleave() const { return geometry_.Kind() == DiskKind::D81 ? 1 : 10; }
  // The sector whose bytes 0-1 point to the first directory sector.
  const std::uint8_t* Header() const { return At(geometry_.DirectoryTrack(), 0); }

  DiskGeometry geometry_;
  std::vector<std::uint8_t> bytes_;
  // What SectorsInUse found when a write began; empty outside WriteFile.
  std::vector<bool> in_use_;
};

}  // namespace dorvane
