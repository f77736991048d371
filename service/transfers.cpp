// Placeholder until loads and saves are built: every request is refused cleanly.
#include "service/server.h"

namespace dorvane {

void Server::StepLoadOpen() {
  link_.SendStatus(stOpenError);
  State = ssIdle;
}
void Server::StepLoadWaitReply() { State = ssIdle; }
void Server::StepLoadSendBlock() { State = ssIdle; }
void Server::StepSaveOpen() {
  link_.SendStatus(stOpenError);
  State = ssIdle;
}
void Server::StepSaveReceive() { State = ssIdle; }
void Server::StepSaveAck() { State = ssIdle; }

}  // namespace dorvane
