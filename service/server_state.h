#pragma once

#include <cstdint>

namespace dorvane {

// The server is one explicit state machine; each pass of its loop performs the step
// of the current state, which names the next.
enum ServerState : std::int32_t {
  ssIdle = 0,             // wait without limit for the attention byte, echo its complement
  ssHeader = 1,           // receive the request packet and classify it
  ssLoadRequest = 2,      // convert the requested name: listing or file
  ssLoadOpen = 3,         // find and open the file to send
  ssLoadWaitReply = 4,    // wait for the C64's reply during a load
  ssLoadSendBlock = 5,    // read and send the next block
  ssSaveRequest = 6,      // convert the name of the file to receive
  ssSaveOpen = 7,         // prepare the file to receive
  ssSaveReceive = 8,      // receive the next packet of a save
  ssSaveAck = 9,          // acknowledge a written block
  ssCommandRequest = 10,  // convert and check the disk command
  ssCommandExecute = 11,  // dispatch the disk command by its letter
  ssDirBuild = 12,        // build the listing
  ssDirWaitReply = 13,    // wait for the C64's reply during a listing
  ssDirSendBlock = 14,    // send the next listing block
};

}  // namespace dorvane
