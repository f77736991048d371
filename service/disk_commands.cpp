// Placeholder until the disk commands are built: each is refused with its error code.
#include "service/server.h"

namespace dorvane {

void Server::CommandChangeDrive(std::string) { link_.SendStatus(stError); }
void Server::CommandChangeDir(std::string) { link_.SendStatus(stError); }
void Server::CommandDelete(std::string) { link_.SendStatus(stDeleteError); }
void Server::CommandMakeDir(std::string) { link_.SendStatus(stError); }
void Server::CommandRename(std::string) { link_.SendStatus(stRenameError); }

}  // namespace dorvane
