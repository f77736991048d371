#include "formats/disk_geometry.h"

#include "formats/ascii_case.h"

namespace dorvane {
namespace {

// The 1541's four speed zones: more sectors on the longer outer tracks.
int ZoneSectors(int track) {
  if (track <= 17) return 21;
  if (track <= 24) return 19;
  if (track <= 30) return 18;
  return 17;
}

struct KnownSize {
  std::string_view extension;
  std::size_t size;
  DiskKind kind;
  int tracks;
  bool error_bytes;
};

constexpr KnownSize KnownSizes[] = {
    {".d64", 174848, DiskKind::D64, 35, false}, {".d64", 175531, DiskKind::D64, 35, true},
    {".d64", 196608, DiskKind::D64, 40, false}, {".d64", 197376, DiskKind::D64, 40, true},
    {".d71", 349696, DiskKind::D71, 70, false}, {".d71", 351062, DiskKind::D71, 70, true},
    {".d81", 819200, DiskKind::D81, 80, false}, {".d81", 822400, DiskKind::D81, 80, true},
};

}  // namespace

DiskGeometry::DiskGeometry(DiskKind kind, int tracks, bool error_bytes)
    : kind_(kind), tracks_(tracks), error_bytes_(error_bytes) {
  for (int t = 1; t <= tracks_; ++t) {
    track_start_[t] = sector_count_;
    sector_count_ += SectorsOn(t);
  }
}

std::optional<DiskGeometry> DiskGeometry::ForImage(std::string_view extension, std::size_t size) {
  for (const KnownSize& known : KnownSizes) {
    if (known.size == size && EqualsFolded(known.extension, extension)) {
      return DiskGeometry(known.kind, known.tracks, known.error_bytes);
    }
  }
  return std::nullopt;
}

int DiskGeometry::SectorsOn(int track) const {
  if (track < 1 || track > tracks_) return 0;
  switch (kind_) {
    case DiskKind::D81:
      return 40;
    case DiskKind::D71:
      return ZoneSectors(track > 35 ? track - 35 : track);
    case DiskKind::D64:
      break;
  }
  return ZoneSectors(track);
}

int DiskGeometry::SectorIndex(int track, int sector) const { return track_start_[track] + sector; }

std::size_t DiskGeometry::ImageSize() const {
  const auto sectors = static_cast<std::size_t>(sector_count_);
  return sectors * SectorSize + (error_bytes_ ? sectors : 0);
}

}  // namespace dorvane
