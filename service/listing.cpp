// Placeholder until the listing is built.
#include "service/listing.h"

#include "service/server.h"

namespace dorvane {

std::string UppercaseListingName(const std::string& name) { return name; }
std::uint64_t BlockCount(std::uint64_t size) { return size; }
void Listing::BuildListing(Volume&) {}
void Listing::AppendListingByte(std::uint8_t) {}
std::uint64_t Listing::AppendEntryLine(const DirEntry&) { return 0; }
int Listing::NextListingChunk(Packet&) { return 0; }

void Server::StepDirBuild() {
  link_.SendStatus(stOpenError);
  State = ssIdle;
}
void Server::StepDirWaitReply() { State = ssIdle; }
void Server::StepDirSendBlock() { State = ssIdle; }

}  // namespace dorvane
