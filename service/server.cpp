#include "service/server.h"

#include "formats/petscii_names.h"
#include "link/os_error.h"
#include "service/captions.h"
#include "service/host_fault.h"
#include "service/outcome_lines.h"
#include "service/received_name.h"

namespace dorvane {

Server::Server(Link& link, Volume& volume, OperatorPanel& panel)
    : link_(link), volume_(volume), panel_(panel) {}

void Server::StartServing() {
  // A window may serve again after a stop, which can come in the middle of a request.
  State = ssIdle;
  link_.StopRequested = false;
  link_.LineReset = false;
  link_.PortHandle = link_.OpenPort();
  if (!link_.PortHandle) {
    panel_.LogLine("Can't initialize port " + link_.PortName);
    if (!link_.PortFailureCause.empty()) panel_.LogLine(link_.PortFailureCause);
    return;
  }
  panel_.SetStartEnabled(false);
  panel_.SetPortChoiceEnabled(false);

  try {
    do {
      try {
        Step();
      } catch (const LineError&) {
        throw;  // the port itself failed: serving ends
      } catch (const OsError& error) {
        // A fault of the host that no step answered more closely: it ends the
        // request under way, never serving.
        panel_.LogLine(FaultLine(error.Code(), "serving", "the request"));
        AbandonTransfer();
        State = ssIdle;
      }
      // After the step's own lines, as the link noticed it during them.
      if (const std::string hint = link_.TakeDamageHint(); !hint.empty()) panel_.LogLine(hint);
      if (link_.LineReset) {
        // The line ended the session under this step: whatever was under way ends
        // as an abort does, and the next request starts from the beginning.
        LogTransferEnd(ByTheLine);
        AbandonTransfer();
        State = ssIdle;
        link_.LineReset = false;
      }
    } while (!link_.StopRequested);
  } catch (...) {
    // The error ends serving; an unfinished save must not leave its temporary file.
    AbandonTransfer();
    throw;
  }

  AbandonTransfer();
  link_.FlushRepeated(true);
  panel_.SetStartEnabled(true);
  panel_.LogLine(" terminated!");
  panel_.CloseMainWindow();
}

void Server::Step() {
  switch (State) {
    case ssIdle:
      return StepIdle();
    case ssHeader:
      return StepHeader();
    case ssLoadRequest:
      return StepLoadRequest();
    case ssLoadOpen:
      return StepLoadOpen();
    case ssLoadWaitReply:
      return StepLoadWaitReply();
    case ssLoadSendBlock:
      return StepLoadSendBlock();
    case ssSaveRequest:
      return StepSaveRequest();
    case ssSaveOpen:
      return StepSaveOpen();
    case ssSaveReceive:
      return StepSaveReceive();
    case ssSaveAck:
      return StepSaveAck();
    case ssCommandRequest:
      return StepCommandRequest();
    case ssCommandExecute:
      return StepCommandExecute();
    case ssDirBuild:
      return StepDirBuild();
    case ssDirWaitReply:
      return StepDirWaitReply();
    case ssDirSendBlock:
      return StepDirSendBlock();
  }
  State = ssIdle;  // not a state: start over with the next request
}

void Server::AbandonTransfer() noexcept {
  TransferFile.reset();
  if (PendingSave) {
    PendingSave->Discard();
    PendingSave.reset();
  }
  SaveFailed = false;
}

void Server::StepIdle() {
  panel_.SetStatusCaption(CaptionWaiting);
  // While the line is down nothing can come: the event that brings it back starts
  // this step over, and the line is logged then.
  if (!quiet_ && !link_.LineDown) panel_.LogLine("Waiting for command from C64...");
  panel_.SetProgressPosition(0);
  panel_.SetProgressEnabled(false);

  // While a flood is summed up, a second without a byte is looked for: once the
  // summary is out, a fresh "Waiting..." shows that the server waits.
  link_.LinkTimeoutMs = quiet_ ? OneSecondMs : 0;
  AttentionByte = link_.ReadByte();
  if (link_.Interrupted()) return;
  if (link_.TimedOut) {
    // Quiet now; the summary comes at the end of its period, this line after it.
    if (!link_.Budget.Holding(Repeated::kStrayByte) &&
        !link_.Budget.Holding(Repeated::kDamagedPacket)) {
      EndQuiet();
    }
    return;
  }
  if (AttentionByte == ptAttention) {
    action_held_ = true;
  } else if (link_.AllowRepeated(Repeated::kStrayByte)) {
    EndQuiet();
    panel_.LogLine("Action");
  } else {
    BeginQuiet();
  }

  link_.LinkTimeoutMs = OneSecondMs;
  link_.WriteByte(AttentionEcho(AttentionByte));
  if (AttentionByte != ptAttention) return;
  if (link_.TimedOut) {
    LogHeldAction();
    return;
  }
  State = ssHeader;
}

void Server::LogHeldAction() {
  if (!action_held_) return;
  action_held_ = false;
  EndQuiet();
  panel_.LogLine("Action");
}

void Server::BeginQuiet() {
  if (quiet_) return;
  quiet_ = true;
  quiet_since_ = link_.Budget.Summaries();
}

void Server::EndQuiet() {
  if (!quiet_) return;
  quiet_ = false;
  if (link_.Budget.Summaries() != quiet_since_) panel_.LogLine("Waiting for command from C64...");
}

void Server::StepHeader() {
  link_.LinkTimeoutMs = OneSecondMs;
  link_.ReceivePacket();
  if (link_.Interrupted()) return LogHeldAction();
  const Packet& packet = link_.ReceivedPacket;
  const bool is_request =
      packet.Type == ptLoad || packet.Type == ptSave || packet.Type == ptCommand;
  // A damaged name could load, overwrite or delete the wrong file: a request whose
  // payload fails is refused like one with a bad header, and the C64 starts over.
  const bool damaged_name = is_request && packet.PayloadCrcError;
  if (packet.HeaderCrcError || link_.TimedOut || damaged_name) {
    State = ssIdle;
    if (!action_held_ || link_.AllowRepeated(Repeated::kDamagedPacket)) {
      LogHeldAction();
      if (packet.HeaderCrcError) panel_.LogLine("Header CRC error!!");
      if (link_.TimedOut) panel_.LogLine("TimeOut error");
      if (!packet.HeaderCrcError && !link_.TimedOut) panel_.LogLine("Payload CRC error!!");
    } else {
      action_held_ = false;
      BeginQuiet();
    }
    return;
  }
  // A sound packet that is no request may still be garbage: "Action" waits on. A
  // request after a flood finds its summary logged before its own lines.
  if (is_request) {
    if (quiet_) link_.FlushRepeated(true);
    LogHeldAction();
  }
  switch (packet.Type) {
    case ptLoad:
      State = ssLoadRequest;
      break;
    case ptSave:
      State = ssSaveRequest;
      break;
    case ptCommand:
      State = ssCommandRequest;
      break;
    default:
      break;  // not a request: wait for one more packet under the same limit
  }
}

void Server::StepLoadRequest() {
  CurrentName = ConvertReceivedName(link_.ReceivedPacket);
  State = CurrentName == "$" ? ssDirBuild : ssLoadOpen;
}

void Server::StepSaveRequest() {
  CurrentName = ConvertReceivedName(link_.ReceivedPacket);
  panel_.LogLine(ShortText("Getting file: " + PetsciiToHostName(CurrentName)));
  panel_.SetStatusCaption(CaptionGettingFile);
  State = ssSaveOpen;
}

void Server::StepCommandRequest() {
  CommandText = ConvertReceivedName(link_.ReceivedPacket);
  CommandLetter = CommandText.empty() ? '\0' : CommandText[0];
  if (CommandText.size() >= 2 && CommandText[1] == ':') {
    State = ssCommandExecute;
    return;
  }
  panel_.LogLine(ShortText("Unknown disk command: " + PetsciiToHostName(CommandText)));
  link_.SendStatus(stError);
  State = ssIdle;
}

void Server::StepCommandExecute() {
  // What stays of the command text after the letter and the colon is the argument.
  CommandText.erase(0, 2);
  std::string argument = CommandText;
  State = ssIdle;
  switch (CommandLetter) {
    case 'c':
      if (argument.size() >= 2 && argument[1] == ':') {
        panel_.SetStatusCaption(CaptionChangingDrive);
        panel_.LogLine(ShortText("Changing disk drive to: " + PetsciiToHostName(argument)));
        CommandChangeDrive(std::move(argument));
      } else {
        panel_.SetStatusCaption(CaptionChangingDirectory);
        panel_.LogLine(ShortText("Changing dir path to: " + PetsciiToHostName(argument)));
        CommandChangeDir(std::move(argument));
      }
      break;
    case 's':
      panel_.SetStatusCaption(CaptionDeleting);
      panel_.LogLine(ShortText("Deleting file: " + PetsciiToHostName(argument)));
      CommandDelete(std::move(argument));
      break;
    case 'm':
      panel_.SetStatusCaption(CaptionMakingDirectory);
      panel_.LogLine(ShortText("Making directory: " + PetsciiToHostName(argument)));
      CommandMakeDir(std::move(argument));
      break;
    case 'r':
      panel_.SetStatusCaption(CaptionRenaming);
      CommandRename(std::move(argument));
      break;
    default:
      // A letter without a command gets no reply at all.
      panel_.LogLine(ShortText("Unknown disk command: " + std::string(1, CommandLetter) + ":" +
                               PetsciiToHostName(argument)));
      break;
  }
}

}  // namespace dorvane
