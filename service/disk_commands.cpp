// The five disk commands the C64 sends: change drive, change directory, delete, make
// directory and rename. Each works only through the Volume, logs what went wrong
// (log line first, then the reply) and answers the C64 with exactly one status.
//
// Paths keep "/" as their separator all the way down: on this host "\" is an
// ordinary name character, so it is never produced from "/" nor read as one.
#include <string>

#include "formats/petscii_names.h"
#include "service/received_name.h"
#include "service/server.h"

namespace dorvane {
namespace {

bool IsDriveLetter(char c) { return c >= 'A' && c <= 'Z'; }

char UpperCase(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

void Server::CommandChangeDrive(std::string argument) {
  // This host has one tree and no drives: every letter names the served root, and
  // what follows the colon is a path from there.
  const std::string refusal = ShortText("Error changing drive to: " + PetsciiToHostName(argument));
  if (argument.size() < 2) {
    panel_.LogLine(refusal);
    link_.SendStatus(stError);
    return;
  }
  argument[0] = UpperCase(argument[0]);
  if (!IsDriveLetter(argument[0]) || HoldsNul(argument)) {
    // Unanswered, the C64 would hang waiting for a reply; it gets a plain refusal.
    panel_.LogLine(refusal);
    link_.SendStatus(stError);
    return;
  }
  const std::string rest = argument.substr(2);
  const std::string path = !rest.empty() && rest[0] == '/' ? rest : "/" + rest;
  if (NamesHiddenEntry(path)) {
    panel_.LogLine(HiddenRefusal(path));
    link_.SendStatus(stError);
    return;
  }
  const bool changed = volume_.ChangeDir(path);
  const bool noted = LogVolumeNotice();
  if (changed && !noted) LogServedDir();
  if (!changed) panel_.LogLine(refusal);
  link_.SendStatus(changed ? stOk : stError);
}

void Server::LogServedDir() {
  panel_.LogLine(ShortText("Serving: " + volume_.CurrentDirDisplay()));
}

void Server::CommandChangeDir(std::string argument) {
  // An empty argument means the root, as it does on a drive.
  const std::string path = argument.empty() ? "/" : argument;
  if (NamesHiddenEntry(path)) {
    panel_.LogLine(HiddenRefusal(path));
    link_.SendStatus(stError);
    return;
  }
  if (!HoldsNul(path) && volume_.ChangeDir(path)) {
    if (!LogVolumeNotice()) LogServedDir();
    link_.SendStatus(stOk);
    return;
  }
  LogVolumeNotice();
  panel_.LogLine(ShortText("Error changing dir to: " + PetsciiToHostName(path)));
  link_.SendStatus(stError);
}

void Server::CommandDelete(std::string argument) {
  // Read at each request: the operator may flip the switch while the server runs.
  if (panel_.DeleteProtection()) {
    panel_.LogLine("Can't delete! Protected deleting!!!");
    link_.SendStatus(stDeleteError);
    return;
  }

  argument = WithoutDriveLetter(argument);
  if (NamesHiddenEntry(argument)) {
    panel_.LogLine(HiddenRefusal(argument));
    link_.SendStatus(stDeleteError);
    return;
  }
  DirEntry entry;
  bool found = false;
  if (!argument.empty() && !HoldsNul(argument)) {
    int error = 0;
    // The search closes when it goes out of scope, on every path.
    std::unique_ptr<DirSearch> search = volume_.FindFirst(argument, error);
    if (search) {
      found = search->Next(entry);
      // Below the root a search yields ".." early; only a first match of that name is
      // passed over, so "s:*" in a subdirectory does not aim at the parent. Hidden
      // entries are the host's: a pattern passes over them.
      if (found && entry.Name == "..") found = search->Next(entry);
      while (found && (entry.Attributes & faHidden) != 0) found = search->Next(entry);
    }
  }
  if (!found) {
    panel_.LogLine("File/dir not found...");
    LogVolumeNotice();
    link_.SendStatus(stDeleteError);
    return;
  }

  // "." and ".." stand for the directory being searched and its parent, never for an
  // entry the C64 could mean to delete: refused the way the system refuses them.
  const bool removable = entry.Name != "." && entry.Name != "..";
  if (removable && volume_.Delete(entry)) {
    panel_.LogLine(ShortText("Deleted: " + entry.Name));
    link_.SendStatus(stOk);
    return;
  }
  panel_.LogLine(ShortText("Delete error: " + entry.Name));
  LogVolumeNotice();
  link_.SendStatus(stDeleteError);
}

void Server::CommandMakeDir(std::string argument) {
  argument = WithoutDriveLetter(argument);
  if (NamesHiddenEntry(argument)) {
    panel_.LogLine(HiddenRefusal(argument));
    link_.SendStatus(stError);
    return;
  }
  const bool made = !argument.empty() && !HoldsNul(argument) && volume_.MakeDir(argument);
  const bool noted = !made && LogVolumeNotice();
  if (!noted) {
    panel_.LogLine(ShortText((made ? "Made directory: " : "Error making directory: ") +
                             PetsciiToHostName(argument)));
  }
  link_.SendStatus(made ? stOk : stError);
}

void Server::CommandRename(std::string argument) {
  // The argument reads "new=old"; the first "=" splits it, so any further "=" belongs
  // to the old name.
  const std::size_t equals = argument.find('=');
  if (equals == std::string::npos) {
    link_.SendStatus(stRenameError);
    return;
  }
  const std::string new_name = WithoutDriveLetter(argument.substr(0, equals));
  const std::string old_name = WithoutDriveLetter(argument.substr(equals + 1));

  // Logged before the attempt, so the log has it whether the rename works or not.
  panel_.LogLine(ShortText("Renaming file " + PetsciiToHostName(old_name) + " to " +
                           PetsciiToHostName(new_name)));
  if (NamesHiddenEntry(old_name) || NamesHiddenEntry(new_name)) {
    panel_.LogLine(HiddenRefusal(NamesHiddenEntry(old_name) ? old_name : new_name));
    link_.SendStatus(stRenameError);
    return;
  }
  const bool usable = !new_name.empty() && !old_name.empty() && !HoldsNul(argument);
  if (usable && volume_.Rename(old_name, new_name)) {
    panel_.LogLine(ShortText("Renamed: " + PetsciiToHostName(old_name) + " to " +
                             PetsciiToHostName(new_name)));
    link_.SendStatus(stOk);
    return;
  }
  panel_.LogLine("Rename Error!");
  LogVolumeNotice();
  link_.SendStatus(stRenameError);
}

}  // namespace dorvane
