// The directory listing: built whole into one fixed image before the first byte
// travels, then sent like a file, 255 bytes per packet, each fetched by the C64's stOk.
#include "service/listing.h"

#include "formats/cbm_file_type.h"
#include "link/os_error.h"
#include "service/captions.h"
#include "service/host_fault.h"
#include "service/outcome_lines.h"
#include "service/server.h"

namespace dorvane {
namespace {

constexpr std::size_t MaxListedName = 16;  // longer names show their alternate name
constexpr std::size_t MaxAlternateName = 14;
constexpr std::size_t EntryTextLength = 27;  // between the line number and the 0x00

// Decimal digits of a line number, 1 to 5.
int DigitCount(std::uint16_t line) {
  int digits = 1;
  while (line >= 10) {
    line /= 10;
    ++digits;
  }
  return digits;
}

// The entry text is measured as if the line number and one space stood before it,
// so that quotes and types line up on the C64's screen whatever the number's width.
class EntryText {
 public:
  explicit EntryText(int number_width) : lead_(static_cast<std::size_t>(number_width) + 1) {}

  void Append(char c) { text_[length_++] = c; }
  void Append(const std::string& s) {
    for (char c : s) Append(c);
  }
  void PadMeasuredTo(std::size_t column) {
    while (length_ + lead_ < column) Append(' ');
  }
  void PadTo(std::size_t length) {
    while (length_ < length) Append(' ');
  }
  void ReplaceLast(char c) { text_[length_ - 1] = c; }

  const char* Data() const { return text_; }
  std::size_t Length() const { return length_; }

 private:
  // Longest possible text: 3 lead spaces, 16 + 2 quoted, "DIR<", padding to 27.
  char text_[EntryTextLength + 8] = {};
  std::size_t length_ = 0;
  std::size_t lead_;
};

}  // namespace

std::string UppercaseListingName(const std::string& name) {
  std::string upper = name;
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c & ~0x20);
  }
  return upper;
}

std::uint64_t BlockCount(std::uint64_t size) { return size / 254 + (size % 254 != 0 ? 1 : 0); }

void Listing::AppendListingByte(std::uint8_t b) { ListingImage[ListingPos++] = b; }

ListedEntry HostListedEntry(const DirEntry& entry) {
  ListedEntry listed;
  // The name as the C64 reads it; too long for its place, or taken by an entry
  // before it, it gives way to the alternate name.
  const std::string& name = entry.ListedName.empty() ? entry.Name : entry.ListedName;
  const std::string shown = name.size() > MaxListedName || !entry.AlternateName.empty()
                                ? entry.AlternateName.substr(0, MaxAlternateName)
                                : name;
  listed.Name = UppercaseListingName(shown);
  listed.Blocks = BlockCount(entry.Size);
  listed.Type = (entry.Attributes & faDirectory) != 0 ? std::string("DIR")
                                                      : std::string(CbmFileTypeName(entry.Type));
  listed.Locked = (entry.Attributes & faReadOnly) != 0;
  return listed;
}

std::uint64_t Listing::AppendEntryLine(const DirEntry& entry) {
  return AppendEntryLine(HostListedEntry(entry));
}

std::uint64_t Listing::AppendEntryLine(const ListedEntry& entry) {
  const std::uint64_t blocks = entry.Blocks;
  const auto line = static_cast<std::uint16_t>(blocks & 0xFFFF);

  EntryText text(DigitCount(line));
  text.PadMeasuredTo(5);
  text.Append('"');
  text.Append(entry.Name.substr(0, MaxListedName));
  text.Append('"');
  text.PadMeasuredTo(24);
  // A count the line number cannot hold is marked, in the last place before the
  // type; a drive puts its "*" for a file never closed in the same place.
  if (blocks > 0xFFFF) text.ReplaceLast('!');
  if (entry.Unclosed) text.ReplaceLast('*');
  text.Append(entry.Type.substr(0, 3));
  if (entry.Locked) text.Append('<');
  text.PadTo(EntryTextLength);

  AppendListingByte(0x01);
  AppendListingByte(0x01);
  AppendListingByte(static_cast<std::uint8_t>(line & 0xFF));
  AppendListingByte(static_cast<std::uint8_t>(line >> 8));
  for (std::size_t i = 0; i < text.Length(); ++i) {
    AppendListingByte(static_cast<std::uint8_t>(text.Data()[i]));
  }
  AppendListingByte(0x00);
  return blocks;
}

void Listing::AppendTotalLine(std::uint64_t number, const std::array<std::uint8_t, 23>& trailer) {
  AppendListingByte(0x01);
  AppendListingByte(0x01);
  AppendListingByte(static_cast<std::uint8_t>(number & 0xFF));
  AppendListingByte(static_cast<std::uint8_t>((number >> 8) & 0xFF));
  for (std::uint8_t b : trailer) AppendListingByte(b);
  ListingLength = ListingPos;
  ListingPos = 0;
}

void Listing::BuildListing(Volume& volume) {
  ListingPos = 0;
  DiskListing disk;
  if (volume.ReadDiskListing(disk)) return BuildDiskListing(disk);

  for (std::uint8_t b : DirHeader) AppendListingByte(b);

  int error = 0;
  std::unique_ptr<DirSearch> search = volume.FindFirst("*.*", error);
  if (!search) throw OsError(error);

  // Only "." is left out: the served root has none, and its first entry is real.
  // The image's positions are 16-bit, so the listing stops at the most that fit.
  std::uint64_t total_blocks = 0;
  int listed = 0;
  DirEntry entry;
  while (listed < MaxListedEntries && search->Next(entry)) {
    if (entry.Name == ".") continue;
    total_blocks += AppendEntryLine(entry);
    ++listed;
  }
  EntryCount = listed;
  search.reset();
  AppendTotalLine(total_blocks, DirTrailer);
}

void Listing::BuildDiskListing(const DiskListing& disk) {
  AppendListingByte(0x01);  // load address 0x0401
  AppendListingByte(0x04);
  AppendListingByte(0x01);  // link word
  AppendListingByte(0x01);
  AppendListingByte(0x00);  // line number 0
  AppendListingByte(0x00);
  AppendListingByte(0x12);  // reverse on
  AppendListingByte(0x22);
  for (std::uint8_t b : disk.Title) AppendListingByte(b);
  AppendListingByte(0x22);
  AppendListingByte(' ');
  for (std::uint8_t b : disk.IdField) AppendListingByte(b);
  AppendListingByte(0x00);

  int listed = 0;
  for (const ListedEntry& entry : disk.Entries) {
    if (listed == MaxListedEntries) break;
    AppendEntryLine(entry);
    ++listed;
  }
  EntryCount = listed;
  AppendTotalLine(disk.FreeBlocks, DiskTrailer);
}

int Listing::NextListingChunk(Packet& packet) {
  int count = 0;
  while (ListingPos < ListingLength && count < MaxPayloadLength) {
    packet.Payload[static_cast<std::size_t>(count)] = ListingImage[ListingPos];
    ++ListingPos;
    ++count;
  }
  return count;
}

void Server::StepDirBuild() {
  panel_.SetStatusCaption(CaptionSendingDirectory);
  panel_.LogLine("Sending file:" + CurrentName);
  try {
    DirListing.BuildListing(volume_);
  } catch (const OsError& error) {
    // A directory the host will not let us read: the C64 hears it as a disk it
    // cannot list, and serving goes on.
    std::string where = volume_.CurrentDirDisplay();
    if (where.empty() || where.back() != '/') where += '/';
    panel_.LogLine(FaultLine(error.Code(), "listing", where));
    link_.SendStatus(stOpenError);
    State = ssIdle;
    return;
  }
  LogVolumeNotice();
  // Sent under the one-second limit the request's receipt left in force.
  AnswerReady(ssDirWaitReply);
}

void Server::StepDirWaitReply() {
  const std::optional<std::uint8_t> reply = ReceiveTransferReply();
  if (!reply) return;
  switch (*reply) {
    case stOk:
      State = ssDirSendBlock;
      break;
    case stEndOfFile:
    case stAbort:
      LogTransferEnd(ByTheC64);
      State = ssIdle;
      break;
    case stRepeat:
      link_.SendPacket();  // a plain copy of the image's bytes: nothing to rebuild
      break;
    default:
      break;
  }
}

void Server::StepDirSendBlock() {
  link_.LinkTimeoutMs = OneSecondMs;
  Packet& block = link_.OutgoingPacket;
  const int count = DirListing.NextListingChunk(block);
  block.Length = static_cast<std::uint8_t>(count);
  if (count == 0) {
    link_.SendStatus(stEndOfFile);
    if (!link_.Interrupted()) panel_.LogLine(ListingLine(DirListing.EntryCount));
    State = ssIdle;
    return;
  }
  block.Type = ptData;
  link_.SendPacket();
  State = ssDirWaitReply;
}

}  // namespace dorvane
