// service/: the server itself. It may use link/, formats/ and storage/volume.h,
// never a concrete port or volume, so it serves every link and every storage kind
// alike.
//
// The file server: one state machine that waits for a request from the C64, decodes
// it and carries it out, one request at a time. It runs inside the Start handler of
// the front end and talks to the C64 only through the Link and to storage only
// through the Volume.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "link/link.h"
#include "link/operator_panel.h"
#include "service/listing.h"
#include "service/server_state.h"
#include "storage/volume.h"

namespace dorvane {

class Server {
 public:
  // Keeps references to all three; they must outlive the server.
  Server(Link& link, Volume& volume, OperatorPanel& panel);

  // The work of the Start button: opens the chosen port and serves until
  // StopRequested is seen after a step, then enables Start, logs " terminated!" and
  // closes the main window. Returns early, logging "Can't initialize port ", when
  // the port cannot be opened. A fault of the host's file system ends only the
  // request it happened in (see host_fault.h); an error of the port (OsError raised
  // by the line) still ends serving, an unfinished save discarded by then.
  void StartServing();

  // One pass: the step of the current state.
  void Step();

  // Ends whatever transfer the loop leaves behind: closes a file being loaded and
  // discards an unfinished save, so its target stays as it was; a failed save ends.
  void AbandonTransfer() noexcept;

  // --- State, for the whole run -------------------------------------------------
  ServerState State = ssIdle;
  std::uint8_t AttentionByte = 0;
  std::string CurrentName;  // the load, save or listing request's name
  std::string CommandText;  // the converted disk command, then its argument
  char CommandLetter = 0;   // the command's first character

  // The one open transfer: a file being loaded, or a save being received.
  std::unique_ptr<ReadableFile> TransferFile;
  std::unique_ptr<PendingFile> PendingSave;
  // The host refused a block of the save under way: its data is gone, and every
  // further block is answered with stError until the C64 ends the save.
  bool SaveFailed = false;
  std::uint64_t TransferSize = 0;       // bytes, as the search found them
  std::uint64_t SentCount = 0;          // bytes of the current load sent so far
  std::uint64_t ReceivedCount = 0;      // bytes of the current save written so far
  std::uint32_t TransferStartTick = 0;  // when the load or save was answered, for the log

  Listing DirListing;

 private:
  // Request phase.
  void StepIdle();
  void StepHeader();
  void StepLoadRequest();
  void StepSaveRequest();
  void StepCommandRequest();
  void StepCommandExecute();

  // Loads and saves.
  void StepLoadOpen();
  void StepLoadWaitReply();
  void StepLoadSendBlock();
  void StepSaveOpen();
  void StepSaveReceive();
  void StepSaveAck();
  // Drops the save after the host refused its data (`code`, an errno value) and
  // logs why; the C64 hears stError for this block and every later one.
  void FailSave(int code);
  // A packet of a save that has failed: blocks get stError, an end drops the save.
  void AnswerFailedSave(const Packet& packet);

  // Shared by loads, saves and the listing.
  // Answers stOk to a request whose transfer is ready and moves on to `next`; a
  // time-out of that answer is logged and the transfer goes on all the same.
  void AnswerReady(ServerState next);
  // Waits without limit for the C64's reply to a load or listing block. A reply whose
  // type byte is 0x10 ends the transfer first, whatever else is wrong with it. Returns
  // nothing when the step is over (the operator stopped, or the reply was damaged and
  // stRepeat went back); otherwise the reply's type, for the caller to act on.
  std::optional<std::uint8_t> ReceiveTransferReply();

  // The idle lines a flood holds back (see LogBudget): a stray byte's "Action" and
  // the "Waiting for command from C64..." after it, or a damaged request's lines,
  // count as one occurrence. "Action" for the attention byte waits until the packet
  // after it shows whether a request came or garbage.
  void LogHeldAction();
  // Starts holding the idle lines back.
  void BeginQuiet();
  // Ends it, logging the "Waiting..." line held back when a summary has come since
  // the last one; without one, that line would only repeat it.
  void EndQuiet();

  // Logs what the volume noted about its last action (a full disk image, a damaged
  // one), if anything; true when it noted something.
  bool LogVolumeNotice();
  // Logs how far the transfer of the current state had come when it ended early
  // (`how`: ByTheC64, ByTheLine); nothing outside a transfer.
  void LogTransferEnd(const char* how);
  // Milliseconds since TransferStartTick.
  std::uint32_t TransferMs();

  // The listing.
  void StepDirBuild();
  void StepDirWaitReply();
  void StepDirSendBlock();

  // Disk commands. Each sends exactly one status reply to the C64.
  void CommandChangeDrive(std::string argument);
  void CommandChangeDir(std::string argument);
  void CommandDelete(std::string argument);
  void CommandMakeDir(std::string argument);
  void CommandRename(std::string argument);
  // The outcome of a change of drive or directory: "Serving: " and where.
  void LogServedDir();

  Link& link_;
  Volume& volume_;
  OperatorPanel& panel_;
  bool quiet_ = false;             // a flood is being summed up: this pass's "Waiting..." held
  bool action_held_ = false;       // "Action" for an attention byte, not yet logged
  std::uint64_t quiet_since_ = 0;  // the budget's summaries when the quiet began
};

}  // namespace dorvane
