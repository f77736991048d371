#include "formats/cbm_disk.h"

#include <algorithm>
#include <utility>

namespace dorvane {
namespace {

constexpr int EntriesPerSector = 8;
constexpr int EntrySize = 32;
constexpr int DataPerSector = 254;
// A 1571 keeps the bitmap of its second side on this track of that side.
constexpr int D71SideTwoBamTrack = 53;
constexpr int D64DirectoryInterleave = 3;

// Where the header fields lie in the header sector.
struct HeaderLayout {
  std::size_t name;
  std::size_t id_field;
};
HeaderLayout LayoutOf(DiskKind kind) {
  return kind == DiskKind::D81 ? HeaderLayout{0x04, 0x16} : HeaderLayout{0x90, 0xA2};
}

// The middle track of the side holding `track`: new files start next to it and grow
// away from it.
int CentreOf(const DiskGeometry& geometry, int track) {
  if (geometry.Kind() == DiskKind::D71 && track > 35) return D71SideTwoBamTrack;
  return geometry.DirectoryTrack();
}

// The tracks a file may use, in the order a drive tries them for a file's first
// sector: nearest the directory track first, alternating below and above it. A
// 1571 turns to its second side only when the first is full; the tracks 36-40 of
// an extended D64 are left alone, as a 1541 leaves them.
std::vector<int> TrackOrder(const DiskGeometry& geometry) {
  std::vector<int> order;
  auto add_side = [&](int centre, int low, int high, bool with_centre) {
    for (int d = 1; centre - d >= low || centre + d <= high; ++d) {
      if (centre - d >= low) order.push_back(centre - d);
      if (centre + d <= high) order.push_back(centre + d);
    }
    if (with_centre) order.push_back(centre);
  };
  switch (geometry.Kind()) {
    case DiskKind::D64:
      add_side(18, 1, 35, false);
      break;
    case DiskKind::D71:
      add_side(18, 1, 35, false);
      add_side(D71SideTwoBamTrack, 36, 70, true);
      break;
    case DiskKind::D81:
      add_side(40, 1, 80, false);
      break;
  }
  return order;
}

// The first and last track of the side a chain on `track` may grow over.
std::pair<int, int> SideOf(const DiskGeometry& geometry, int track) {
  if (geometry.Kind() == DiskKind::D81) return {1, 80};
  if (geometry.Kind() == DiskKind::D71 && track > 35) return {36, 70};
  return {1, 35};
}

void PutName(std::uint8_t* at, const std::string& name) {
  for (std::size_t i = 0; i < 16; ++i) {
    at[i] = i < name.size() ? static_cast<std::uint8_t>(name[i]) : 0xA0;
  }
}

}  // namespace

CbmDisk::CbmDisk(DiskGeometry geometry, std::vector<std::uint8_t> bytes)
    : geometry_(geometry), bytes_(std::move(bytes)) {
  bytes_.resize(geometry_.ImageSize());  // a caller's mistake must not lead outside
}

std::uint8_t* CbmDisk::At(int track, int sector) {
  return bytes_.data() +
         static_cast<std::size_t>(geometry_.SectorIndex(track, sector)) * SectorSize;
}

const std::uint8_t* CbmDisk::At(int track, int sector) const {
  return bytes_.data() +
         static_cast<std::size_t>(geometry_.SectorIndex(track, sector)) * SectorSize;
}

bool CbmDisk::Readable(int track, int sector) const {
  if (!geometry_.HasErrorBytes()) return true;
  const std::size_t at = static_cast<std::size_t>(geometry_.SectorCount()) * SectorSize +
                         static_cast<std::size_t>(geometry_.SectorIndex(track, sector));
  return bytes_[at] == 0x00 || bytes_[at] == 0x01;
}

CbmDisk::BamTrack CbmDisk::Bam(int track) {
  BamTrack bam;
  switch (geometry_.Kind()) {
    case DiskKind::D64:
      if (track < 1 || track > 35) break;
      bam.Count = At(18, 0) + 4 * track;
      bam.Bits = bam.Count + 1;
      break;
    case DiskKind::D71:
      if (track >= 1 && track <= 35) {
        bam.Count = At(18, 0) + 4 * track;
        bam.Bits = bam.Count + 1;
      } else if (track >= 36 && track <= 70) {
        bam.Count = At(18, 0) + 0xDD + (track - 36);
        bam.Bits = At(D71SideTwoBamTrack, 0) + 3 * (track - 36);
      }
      break;
    case DiskKind::D81:
      if (track >= 1 && track <= 40) {
        bam.Count = At(40, 1) + 0x10 + 6 * (track - 1);
      } else if (track >= 41 && track <= 80) {
        bam.Count = At(40, 2) + 0x10 + 6 * (track - 41);
      }
      if (bam.Count != nullptr) bam.Bits = bam.Count + 1;
      break;
  }
  return bam;
}

bool CbmDisk::IsFree(int track, int sector) const {
  const BamTrack bam = const_cast<CbmDisk*>(this)->Bam(track);
  if (bam.Bits == nullptr || !geometry_.Contains(track, sector)) return false;
  return (bam.Bits[sector >> 3] & (1u << (sector & 7))) != 0;
}

void CbmDisk::Allocate(int track, int sector) {
  const BamTrack bam = Bam(track);
  if (bam.Bits == nullptr || !IsFree(track, sector)) return;
  bam.Bits[sector >> 3] = static_cast<std::uint8_t>(bam.Bits[sector >> 3] & ~(1u << (sector & 7)));
  if (*bam.Count > 0) --*bam.Count;
}

void CbmDisk::Release(int track, int sector) {
  const BamTrack bam = Bam(track);
  if (bam.Bits == nullptr || !geometry_.Contains(track, sector) || IsFree(track, sector)) return;
  // The sectors that hold the header, the BAM and the directory are never given
  // back, whatever a damaged entry claims.
  if (track == geometry_.DirectoryTrack()) return;
  if (geometry_.Kind() == DiskKind::D71 && track == D71SideTwoBamTrack && sector == 0) return;
  bam.Bits[sector >> 3] = static_cast<std::uint8_t>(bam.Bits[sector >> 3] | (1u << (sector & 7)));
  if (*bam.Count < 0xFF) ++*bam.Count;
}

bool CbmDisk::Usable(int track, int sector) const {
  if (track == geometry_.DirectoryTrack()) return false;
  if (geometry_.Kind() == DiskKind::D71 && track == D71SideTwoBamTrack && sector == 0) return false;
  return IsFree(track, sector) && Readable(track, sector) && !InUse(track, sector);
}

bool CbmDisk::InUse(int track, int sector) const {
  if (in_use_.empty() || !geometry_.Contains(track, sector)) return false;
  return in_use_[static_cast<std::size_t>(geometry_.SectorIndex(track, sector))];
}

std::vector<bool> CbmDisk::SectorsInUse() const {
  std::vector<bool> used(static_cast<std::size_t>(geometry_.SectorCount()));
  auto mark = [&](int t, int s) {
    if (geometry_.Contains(t, s))
      used[static_cast<std::size_t>(geometry_.SectorIndex(t, s))] = true;
  };
  const int dir_track = geometry_.DirectoryTrack();
  mark(dir_track, 0);
  if (geometry_.Kind() == DiskKind::D81) {
    mark(40, 1);
    mark(40, 2);
  }
  if (geometry_.Kind() == DiskKind::D71) mark(D71SideTwoBamTrack, 0);
  // The directory chain as Directory() follows it, then every chain it lists; Walk
  // stops at the first unsound link, so a damaged chain marks what it reached.
  auto mark_chain = [&](int t, int s) {
    if (t == 0) return;
    Walk(
        t, s, [](const std::uint8_t*, std::size_t) {}, mark);
  };
  mark_chain(Header()[0], Header()[1]);
  bool damaged = false;
  for (const CbmDirEntry& entry : Directory(damaged)) {
    mark_chain(entry.Track, entry.Sector);
    if (entry.FileType() == CbmRel) mark_chain(entry.SideTrack, entry.SideSector);
  }
  return used;
}

bool CbmDisk::FindFreeOnTrack(int track, int from, int& sector) const {
  const int sectors = geometry_.SectorsOn(track);
  for (int i = 0; i < sectors; ++i) {
    const int candidate = (from + i) % sectors;
    if (Usable(track, candidate)) {
      sector = candidate;
      return true;
    }
  }
  return false;
}

bool CbmDisk::NextFileSector(int& track, int& sector) const {
  if (track != 0) {
    // The same track while it has room, the next sector `Interleave()` further on
    // (a drive reads the sectors between while it handles one); then the tracks
    // farther from the middle on the same side, keeping the sector position.
    const int next = sector + Interleave();
    if (FindFreeOnTrack(track, next % geometry_.SectorsOn(track), sector)) return true;
    const int step = track < CentreOf(geometry_, track) ? -1 : 1;
    const auto [low, high] = SideOf(geometry_, track);
    for (int t = track + step; t >= low && t <= high; t += step) {
      if (FindFreeOnTrack(t, next % geometry_.SectorsOn(t), sector)) {
        track = t;
        return true;
      }
    }
  }
  for (int t : TrackOrder(geometry_)) {
    if (FindFreeOnTrack(t, 0, sector)) {
      track = t;
      return true;
    }
  }
  return false;
}

CbmName CbmDisk::DiskName() const {
  CbmName name;
  std::copy_n(Header() + LayoutOf(geometry_.Kind()).name, name.size(), name.begin());
  return name;
}

std::array<std::uint8_t, 5> CbmDisk::IdField() const {
  std::array<std::uint8_t, 5> field;
  std::copy_n(Header() + LayoutOf(geometry_.Kind()).id_field, field.size(), field.begin());
  return field;
}

int CbmDisk::FreeBlocks() const {
  auto& self = *const_cast<CbmDisk*>(this);
  int free = 0;
  for (int t = 1; t <= geometry_.Tracks(); ++t) {
    if (t == geometry_.DirectoryTrack()) continue;
    const BamTrack bam = self.Bam(t);
    if (bam.Count == nullptr) continue;
    if (geometry_.Kind() == DiskKind::D71 && t > 35) {
      // Tools disagree on the side-two counts, never on its bitmap.
      for (int s = 0; s < geometry_.SectorsOn(t); ++s) free += IsFree(t, s) ? 1 : 0;
    } else {
      free += *bam.Count;
    }
  }
  return free;
}

std::vector<CbmDirEntry> CbmDisk::Directory(bool& damaged) const {
  std::vector<CbmDirEntry> entries;
  damaged = false;
  std::vector<bool> visited(static_cast<std::size_t>(geometry_.SectorCount()));
  int t = Header()[0];
  int s = Header()[1];
  // A drive's directory fits on its track; a longer chain is damage, and would
  // only make every search of a hostile image slow.
  int sectors_left = geometry_.SectorsOn(geometry_.DirectoryTrack());
  while (t != 0) {
    if (!geometry_.Contains(t, s) || !Readable(t, s) || sectors_left-- == 0) {
      damaged = true;
      break;
    }
    const auto index = static_cast<std::size_t>(geometry_.SectorIndex(t, s));
    if (visited[index]) {
      damaged = true;
      break;
    }
    visited[index] = true;
    const std::uint8_t* sector = At(t, s);
    for (int i = 0; i < EntriesPerSector; ++i) {
      const std::uint8_t* e = sector + EntrySize * i;
      if (e[2] == 0x00) continue;
      CbmDirEntry entry;
      entry.TypeByte = e[2];
      entry.Track = e[3];
      entry.Sector = e[4];
      std::copy_n(e + 5, 16, entry.Name.begin());
      entry.SideTrack = e[0x15];
      entry.SideSector = e[0x16];
      entry.Blocks = static_cast<std::uint16_t>(e[0x1E] | (e[0x1F] << 8));
      entry.SlotTrack = t;
      entry.SlotSector = s;
      entry.SlotIndex = i;
      entries.push_back(entry);
    }
    t = sector[0];
    s = sector[1];
  }
  return entries;
}

template <typename Take, typename Visit>
ChainStatus CbmDisk::Walk(int track, int sector, Take take, Visit visit) const {
  std::vector<bool> visited(static_cast<std::size_t>(geometry_.SectorCount()));
  int t = track;
  int s = sector;
  for (;;) {
    if (!geometry_.Contains(t, s)) return ChainStatus::OutOfRange;
    const auto index = static_cast<std::size_t>(geometry_.SectorIndex(t, s));
    if (visited[index]) return ChainStatus::Loop;
    visited[index] = true;
    visit(t, s);
    if (!Readable(t, s)) return ChainStatus::BadSector;
    const std::uint8_t* p = At(t, s);
    if (p[0] == 0) {
      // The last sector: byte 1 is the index of its last used byte.
      if (p[1] >= 2) take(p + 2, static_cast<std::size_t>(p[1] - 1));
      return ChainStatus::Ok;
    }
    take(p + 2, SectorSize - 2);
    t = p[0];
    s = p[1];
  }
}

ChainStatus CbmDisk::ReadChain(int track, int sector, std::vector<std::uint8_t>& data) const {
  return Walk(
      track, sector,
      [&data](const std::uint8_t* p, std::size_t count) { data.insert(data.end(), p, p + count); },
      [](int, int) {});
}

ChainStatus CbmDisk::MeasureChain(int track, int sector, std::size_t& bytes) const {
  bytes = 0;
  return Walk(
      track, sector, [&bytes](const std::uint8_t*, std::size_t count) { bytes += count; },
      [](int, int) {});
}

bool CbmDisk::FreeSlot(int& slot_track, int& slot_sector, int& slot_index) {
  std::vector<bool> visited(static_cast<std::size_t>(geometry_.SectorCount()));
  int t = Header()[0];
  int s = Header()[1];
  int sectors_left = geometry_.SectorsOn(geometry_.DirectoryTrack());
  for (;;) {
    if (!geometry_.Contains(t, s) || !Readable(t, s) || sectors_left-- == 0) return false;
    const auto index = static_cast<std::size_t>(geometry_.SectorIndex(t, s));
    if (visited[index]) return false;
    visited[index] = true;
    std::uint8_t* sector = At(t, s);
    for (int i = 0; i < EntriesPerSector; ++i) {
      if (sector[EntrySize * i + 2] == 0x00) {
        slot_track = t;
        slot_sector = s;
        slot_index = i;
        return true;
      }
    }
    if (sector[0] == 0) break;
    t = sector[0];
    s = sector[1];
  }
  // All slots used: the directory grows by one sector on its own track.
  const int dir_track = geometry_.DirectoryTrack();
  if (t != dir_track) return false;
  const int sectors = geometry_.SectorsOn(dir_track);
  const int step = geometry_.Kind() == DiskKind::D81 ? 1 : D64DirectoryInterleave;
  for (int i = 0; i < sectors; ++i) {
    const int candidate = (s + step + i) % sectors;
    if (!IsFree(dir_track, candidate) || !Readable(dir_track, candidate) ||
        InUse(dir_track, candidate)) {
      continue;
    }
    Allocate(dir_track, candidate);
    std::uint8_t* last = At(t, s);
    last[0] = static_cast<std::uint8_t>(dir_track);
    last[1] = static_cast<std::uint8_t>(candidate);
    std::uint8_t* grown = At(dir_track, candidate);
    std::fill_n(grown, SectorSize, 0);
    grown[1] = 0xFF;
    slot_track = dir_track;
    slot_sector = candidate;
    slot_index = 0;
    return true;
  }
  return false;
}

bool CbmDisk::WriteFile(const CbmName& name, std::uint8_t type,
                        const std::vector<std::uint8_t>& data) {
  std::vector<std::uint8_t> before = bytes_;
  in_use_ = SectorsInUse();
  auto fail = [&] {
    bytes_ = std::move(before);
    in_use_.clear();
    return false;
  };

  int slot_track = 0, slot_sector = 0, slot_index = 0;
  if (!FreeSlot(slot_track, slot_sector, slot_index)) return fail();

  // Even an empty file takes one sector, holding no byte.
  const std::size_t blocks =
      std::max<std::size_t>(1, (data.size() + DataPerSector - 1) / DataPerSector);
  if (blocks > 0xFFFF) return fail();
  std::vector<std::pair<int, int>> chain;
  int t = 0, s = 0;
  for (std::size_t i = 0; i < blocks; ++i) {
    if (!NextFileSector(t, s)) return fail();
    Allocate(t, s);
    chain.emplace_back(t, s);
  }

  for (std::size_t i = 0; i < blocks; ++i) {
    std::uint8_t* p = At(chain[i].first, chain[i].second);
    std::fill_n(p, SectorSize, 0);
    const std::size_t from = i * DataPerSector;
    const std::size_t count = std::min<std::size_t>(DataPerSector, data.size() - from);
    if (count > 0) std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(from), count, p + 2);
    if (i + 1 < blocks) {
      p[0] = static_cast<std::uint8_t>(chain[i + 1].first);
      p[1] = static_cast<std::uint8_t>(chain[i + 1].second);
    } else {
      p[0] = 0;
      p[1] = static_cast<std::uint8_t>(count + 1);
    }
  }

  std::uint8_t* e = At(slot_track, slot_sector) + EntrySize * slot_index;
  std::fill(e + 2, e + EntrySize, 0);
  e[2] = static_cast<std::uint8_t>(CbmClosedBit | (type & 0x0F));
  e[3] = static_cast<std::uint8_t>(chain[0].first);
  e[4] = static_cast<std::uint8_t>(chain[0].second);
  std::copy(name.begin(), name.end(), e + 5);
  e[0x1E] = static_cast<std::uint8_t>(blocks & 0xFF);
  e[0x1F] = static_cast<std::uint8_t>(blocks >> 8);
  in_use_.clear();
  return true;
}

void CbmDisk::Scratch(const CbmDirEntry& entry) {
  auto release_chain = [this](int t, int s) {
    std::vector<bool> visited(static_cast<std::size_t>(geometry_.SectorCount()));
    while (geometry_.Contains(t, s)) {
      const auto index = static_cast<std::size_t>(geometry_.SectorIndex(t, s));
      if (visited[index]) break;
      visited[index] = true;
      Release(t, s);
      if (!Readable(t, s)) break;
      const std::uint8_t* p = At(t, s);
      t = p[0];
      s = p[1];
    }
  };
  release_chain(entry.Track, entry.Sector);
  if (entry.FileType() == CbmRel) release_chain(entry.SideTrack, entry.SideSector);
  if (!geometry_.Contains(entry.SlotTrack, entry.SlotSector)) return;
  At(entry.SlotTrack, entry.SlotSector)[EntrySize * entry.SlotIndex + 2] = 0x00;
}

void CbmDisk::Rename(const CbmDirEntry& entry, const CbmName& name) {
  if (!geometry_.Contains(entry.SlotTrack, entry.SlotSector)) return;
  std::uint8_t* e = At(entry.SlotTrack, entry.SlotSector) + EntrySize * entry.SlotIndex;
  std::copy(name.begin(), name.end(), e + 5);
}

CbmDisk CbmDisk::Format(DiskKind kind, const std::string& name, const std::string& id) {
  const int tracks = kind == DiskKind::D64 ? 35 : kind == DiskKind::D71 ? 70 : 80;
  DiskGeometry geometry(kind, tracks, false);
  CbmDisk disk(geometry, std::vector<std::uint8_t>(geometry.ImageSize()));
  const int dir_track = geometry.DirectoryTrack();
  std::uint8_t* h = disk.At(dir_track, 0);
  const std::uint8_t id0 = id.size() > 0 ? static_cast<std::uint8_t>(id[0]) : '0';
  const std::uint8_t id1 = id.size() > 1 ? static_cast<std::uint8_t>(id[1]) : '0';
  if (kind == DiskKind::D81) {
    h[0] = 40;
    h[1] = 3;
    h[2] = 0x44;  // "D"
    PutName(h + 0x04, name);
    const std::uint8_t tail[] = {0xA0, 0xA0, id0, id1, 0xA0, '3', 'D', 0xA0, 0xA0};
    std::copy(std::begin(tail), std::end(tail), h + 0x14);
    for (int s = 1; s <= 2; ++s) {
      std::uint8_t* b = disk.At(40, s);
      b[0] = s == 1 ? 40 : 0;
      b[1] = s == 1 ? 2 : 0xFF;
      b[2] = 0x44;
      b[3] = 0xBB;  // the complement of the "D"
      b[4] = id0;
      b[5] = id1;
      b[6] = 0xC0;  // I/O byte: verify and check CRCs
    }
  } else {
    h[0] = 18;
    h[1] = 1;
    h[2] = 0x41;  // "A"
    h[3] = kind == DiskKind::D71 ? 0x80 : 0x00;
    PutName(h + 0x90, name);
    const std::uint8_t tail[] = {0xA0, 0xA0, id0, id1, 0xA0, '2', 'A', 0xA0, 0xA0, 0xA0, 0xA0};
    std::copy(std::begin(tail), std::end(tail), h + 0xA0);
  }
  // Every sector free, then the drive's own sectors taken.
  for (int t = 1; t <= tracks; ++t) {
    const BamTrack bam = disk.Bam(t);
    if (bam.Count == nullptr) continue;
    const int sectors = geometry.SectorsOn(t);
    *bam.Count = static_cast<std::uint8_t>(sectors);
    for (int s = 0; s < sectors; ++s) {
      bam.Bits[s >> 3] = static_cast<std::uint8_t>(bam.Bits[s >> 3] | (1u << (s & 7)));
    }
  }
  if (kind == DiskKind::D81) {
    for (int s = 0; s < 4; ++s) disk.Allocate(40, s);  // header, two BAM sectors, directory
    disk.At(40, 3)[1] = 0xFF;
  } else {
    disk.Allocate(18, 0);
    disk.Allocate(18, 1);
    disk.At(18, 1)[1] = 0xFF;
    if (kind == DiskKind::D71) {
      for (int s = 0; s < geometry.SectorsOn(D71SideTwoBamTrack); ++s) {
        disk.Allocate(D71SideTwoBamTrack, s);  // a 1571 keeps track 53 whole
      }
    }
  }
  return disk;
}

}  // namespace dorvane
