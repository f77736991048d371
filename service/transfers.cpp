// Loads and saves: whole files moved in stop-and-wait blocks of at most 255 bytes.
// In a load the C64 fetches every block with its stOk; in a save the server answers
// every written block with stOk. A save lands in a temporary file that replaces the
// target only when the C64 ends it with stEndOfFile, so an aborted save never costs
// the C64 user the file that was there before. A block the host refuses (a full
// disk, a file-size limit) is answered with stError instead, and so is every later
// one: the save is over, the old file stays, and serving goes on.
#include <algorithm>
#include <cmath>
#include <string>

#include "formats/petscii_names.h"
#include "link/os_error.h"
#include "service/captions.h"
#include "service/host_fault.h"
#include "service/outcome_lines.h"
#include "service/received_name.h"
#include "service/server.h"

namespace dorvane {
namespace {

// Entries a load passes over: only a plain, visible file is sent.
constexpr std::uint32_t NotLoadable = faHidden | faSystem | faVolumeLabel | faDirectory;

// The share of the file sent so far, in whole percent, a half going to the even
// neighbour. A file that grew after the search would pass 100: the bar stops there.
int LoadProgress(std::uint64_t sent, std::uint64_t size) {
  if (size == 0) return 100;  // it was empty at the search, yet yielded bytes
  const double percent = static_cast<double>(sent) / static_cast<double>(size) * 100.0;
  return static_cast<int>(std::min(std::nearbyint(percent), 100.0));
}

}  // namespace

void Server::StepLoadOpen() {
  panel_.SetStatusCaption(CaptionSendingFile);
  TransferFile.reset();

  DirEntry entry;
  bool found = false;
  if (!HoldsNul(CurrentName)) {
    int error = 0;
    const std::string pattern = WithoutDriveLetter(CurrentName);
    if (std::unique_ptr<DirSearch> search = volume_.FindFirst(pattern, error)) {
      while (search->Next(entry)) {
        if ((entry.Attributes & NotLoadable) == 0) {
          found = true;
          break;
        }
      }
    }
  }
  // The log shows the host's own name of what is sent, else the name asked for.
  CurrentName = found ? entry.Name : PetsciiToHostName(CurrentName);
  if (found) TransferSize = entry.Size;

  panel_.SetProgressPosition(0);
  panel_.SetProgressEnabled(true);
  SentCount = 0;
  panel_.LogLine("Sending file:" + CurrentName);
  if (found) panel_.SetTransferProgress(CurrentName, 0, TransferSize);

  if (found) TransferFile = volume_.OpenRead(entry);
  if (!found || !TransferFile) {
    const bool noted = LogVolumeNotice();
    if (!found) {
      panel_.LogLine(ShortText("File not found: " + CurrentName));
    } else if (!noted) {
      panel_.LogLine(ShortText("Can't open file: " + CurrentName));
    }
    link_.SendStatus(stOpenError);
    State = ssIdle;
    return;
  }
  TransferStartTick = link_.Clock().GetTickCount();
  AnswerReady(ssLoadWaitReply);
}

bool Server::LogVolumeNotice() {
  const std::string notice = volume_.TakeNotice();
  if (!notice.empty()) panel_.LogLine(ShortText(notice));
  return !notice.empty();
}

void Server::LogTransferEnd(const char* how) {
  switch (State) {
    case ssLoadWaitReply:
    case ssLoadSendBlock:
      panel_.LogLine(EndedLine(how, SentCount, TransferSize));
      break;
    case ssDirWaitReply:
    case ssDirSendBlock:
      panel_.LogLine(EndedLine(how, DirListing.ListingPos, DirListing.ListingLength));
      break;
    case ssSaveReceive:
    case ssSaveAck:
      panel_.LogLine(EndedLine(how, ReceivedCount, std::nullopt));
      break;
    default:
      break;
  }
}

std::uint32_t Server::TransferMs() { return link_.Clock().GetTickCount() - TransferStartTick; }

void Server::AnswerReady(ServerState next) {
  link_.SendStatus(stOk);
  if (link_.TimedOut) panel_.LogLine("Timeout Error");
  State = next;
}

std::optional<std::uint8_t> Server::ReceiveTransferReply() {
  link_.LinkTimeoutMs = 0;
  link_.ReceivePacket();
  if (link_.Interrupted()) return std::nullopt;
  const Packet& reply = link_.ReceivedPacket;

  // The C64 starting a new request ends the transfer whatever else is wrong with it.
  if (reply.Type == ptAttention) {
    LogTransferEnd(ByTheC64);
    AbandonTransfer();
    State = ssIdle;
  }
  if (reply.HeaderCrcError || link_.TimedOut) {
    link_.LinkTimeoutMs = OneSecondMs;
    link_.SendStatus(stRepeat);
    return std::nullopt;
  }
  return reply.Type;
}

void Server::StepLoadWaitReply() {
  const std::optional<std::uint8_t> reply = ReceiveTransferReply();
  if (!reply) return;
  switch (*reply) {
    case stOk:
      State = ssLoadSendBlock;
      break;
    case stRepeat:
      link_.SendPacket();
      break;
    case stAbort:
      LogTransferEnd(ByTheC64);
      TransferFile.reset();
      State = ssIdle;
      break;
    default:
      break;
  }
}

void Server::StepLoadSendBlock() {
  link_.LinkTimeoutMs = OneSecondMs;
  Packet& block = link_.OutgoingPacket;
  std::size_t count = 0;
  try {
    count = TransferFile ? TransferFile->Read(block.Payload.data(), MaxPayloadLength) : 0;
  } catch (const OsError& error) {
    // Ending with stEndOfFile would pass a cut-short file off as whole.
    panel_.LogLine(FaultLine(error.Code(), "sending", CurrentName));
    TransferFile.reset();
    link_.SendStatus(stError);
    State = ssIdle;
    return;
  }
  block.Length = static_cast<std::uint8_t>(count);

  if (count == 0) {
    link_.SendStatus(stEndOfFile);
    TransferFile.reset();
    if (!link_.Interrupted()) panel_.LogLine(TransferLine("Sent", SentCount, TransferMs()));
    State = ssIdle;
    return;
  }
  block.Type = ptData;
  link_.SendPacket();
  // A block that timed out is not logged: the C64's reply asks for it again.
  SentCount += count;
  panel_.SetProgressPosition(LoadProgress(SentCount, TransferSize));
  panel_.SetTransferProgress(CurrentName, SentCount, TransferSize);
  State = ssLoadWaitReply;
}

void Server::StepSaveOpen() {
  PendingSave.reset();
  ReceivedCount = 0;
  SaveFailed = false;
  const std::string name = WithoutDriveLetter(CurrentName);
  if (NamesHiddenEntry(name)) {
    panel_.LogLine(HiddenRefusal(CurrentName));
  } else if (!HoldsNul(name)) {
    try {
      PendingSave = volume_.CreateForSave(name);
    } catch (const OsError& error) {
      panel_.LogLine(FaultLine(error.Code(), "saving", PetsciiToHostName(name)));
      link_.SendStatus(stOpenError);
      State = ssIdle;
      return;
    }
  }
  if (!PendingSave) {
    if (!NamesHiddenEntry(name) && !LogVolumeNotice()) {
      panel_.LogLine(ShortText("Can't save file: " + PetsciiToHostName(CurrentName)));
    }
    link_.SendStatus(stOpenError);
    State = ssIdle;
    return;
  }
  ReceivedCount = 0;
  TransferStartTick = link_.Clock().GetTickCount();
  AnswerReady(ssSaveReceive);
}

void Server::StepSaveReceive() {
  if (!PendingSave && !SaveFailed) {  // no save under way: nothing to receive into
    State = ssIdle;
    return;
  }
  // A save that failed waits for the C64's next packet no longer than any other
  // byte of the link: a C64 that gave up on hearing stError says nothing more.
  link_.LinkTimeoutMs = SaveFailed ? OneSecondMs : 0;
  link_.ReceivePacket();
  if (link_.Interrupted()) return;
  const Packet& packet = link_.ReceivedPacket;

  if (packet.Type == ptAttention) {
    LogTransferEnd(ByTheC64);
    AbandonTransfer();
    State = ssIdle;
  }
  if (SaveFailed) return AnswerFailedSave(packet);
  // A damaged block is refused like a damaged header: writing it would put
  // corrupted bytes into the file while the C64 believes it saved them.
  const bool damaged_data = packet.Type == ptData && packet.PayloadCrcError;
  if (packet.HeaderCrcError || link_.TimedOut || damaged_data) {
    // The payload of a block whose header failed is still on the line; read as new
    // packets, a 0x10 in it would end the save, and a chance stEndOfFile would commit
    // a cut-short file. The C64 sends nothing more until it hears from us, and a
    // packet's bytes may come up to a second apart: a second of quiet ends it.
    if (packet.HeaderCrcError) link_.DiscardUntilQuiet(OneSecondMs);
    link_.SendStatus(stRepeat);
    panel_.LogLine("Bad Received Packet");
    return;
  }
  switch (packet.Type) {
    case ptData:
      try {
        if (packet.Length > 0) PendingSave->Write(packet.Payload.data(), packet.Length);
        ReceivedCount += packet.Length;
        panel_.SetTransferProgress(PetsciiToHostName(WithoutDriveLetter(CurrentName)),
                                   ReceivedCount, 0);
      } catch (const OsError& error) {
        FailSave(error.Code());
      }
      State = ssSaveAck;
      break;
    case stEndOfFile: {
      bool stored = true;
      try {
        PendingSave->Commit();
      } catch (const SaveRefused& refused) {
        // The host changed the target meanwhile; the old file stays, and serving goes on.
        panel_.LogLine(
            ShortText("Save discarded, " + std::string(refused.what()) + ": " + CurrentName));
        stored = false;
      } catch (const OsError& error) {
        // The C64 expects no answer to its end, so only the log can tell; the
        // temporary file is gone and the target as it was.
        panel_.LogLine(FaultLine(error.Code(), "saving", PetsciiToHostName(CurrentName)));
        stored = false;
      }
      PendingSave.reset();
      // A volume may decline a save at its end without an error ("Disk full").
      if (LogVolumeNotice()) stored = false;
      if (stored) panel_.LogLine(TransferLine("Saved", ReceivedCount, TransferMs()));
      State = ssIdle;
      break;
    }
    case stRepeat:
      panel_.LogLine("Repeat last status packet");
      link_.SendPacket();
      break;
    case stAbort:
      LogTransferEnd(ByTheC64);
      AbandonTransfer();
      State = ssIdle;
      break;
    default:
      break;
  }
}

void Server::StepSaveAck() {
  link_.SendStatus(SaveFailed ? stError : stOk);
  State = ssSaveReceive;
}

void Server::FailSave(int code) {
  panel_.LogLine(FaultLine(code, "saving", PetsciiToHostName(CurrentName)));
  if (PendingSave) PendingSave->Discard();
  PendingSave.reset();
  LogVolumeNotice();
  SaveFailed = true;
}

void Server::AnswerFailedSave(const Packet& packet) {
  if (link_.TimedOut) {  // silent past the limit: the C64 has given the save up
    AbandonTransfer();
    State = ssIdle;
    return;
  }
  // Whatever a damaged block held is refused like a sound one; its payload must not
  // be read as packets.
  if (packet.HeaderCrcError) link_.DiscardUntilQuiet(OneSecondMs);
  switch (packet.HeaderCrcError ? ptData : packet.Type) {
    case ptData:
      State = ssSaveAck;
      break;
    case stRepeat:
      link_.SendPacket();  // the last status again: stError
      break;
    case stEndOfFile:
    case stAbort:
      AbandonTransfer();
      State = ssIdle;
      break;
    default:
      break;
  }
}

}  // namespace dorvane
