// Where the sectors of a Commodore disk image lie, and which image a file is. An
// image is its sectors one after the other, track by track from track 1, optionally
// followed by one error byte per sector.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace dorvane {

enum class DiskKind {
  D64,  // 1541: 35 tracks, or 40 on a few extended images
  D71,  // 1571: two sides of 35 tracks
  D81,  // 1581: 80 tracks of 40 sectors
};

class DiskGeometry {
 public:
  DiskGeometry(DiskKind kind, int tracks, bool error_bytes);

  // The geometry of an image of `size` bytes whose extension is `extension` (".d64",
  // ".d71", ".d81", any case); nothing when that pair is no disk image.
  static std::optional<DiskGeometry> ForImage(std::string_view extension, std::size_t size);

  DiskKind Kind() const { return kind_; }
  int Tracks() const { return tracks_; }
  bool HasErrorBytes() const { return error_bytes_; }
  // 0 for a track outside the disk.
  int SectorsOn(int track) const;
  bool Contains(int track, int sector) const { return sector >= 0 && sector < SectorsOn(track); }
  // Sectors of the whole disk, and the index of one of them (Contains() first).
  int SectorCount() const { return sector_count_; }
  int SectorIndex(int track, int sector) const;
  // Bytes of the image file, error bytes included.
  std::size_t ImageSize() const;

  // The track that holds the header, BAM and directory (18 or 40).
  int DirectoryTrack() const { return kind_ == DiskKind::D81 ? 40 : 18; }

 private:
  DiskKind kind_;
  int tracks_;
  bool error_bytes_;
  int sector_count_ = 0;
  int track_start_[81] = {};  // index of each track's first sector
};

inline constexpr std::size_t SectorSize = 256;

}  // namespace dorvane
