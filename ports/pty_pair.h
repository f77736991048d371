// A pseudo-terminal pair that stands in for the cable: the server opens the slave
// path like any serial device, and the other side (the peer tool, the tests, the
// benchmark, the soak) plays the C64 on the master.
#pragma once

#include <string>

namespace dorvane {

struct PtyPair {
  int master = -1;         // open, read/write, close-on-exec; -1 once closed
  std::string slave_path;  // "/dev/pts/N"
};

// Opens a master, unlocks its slave and puts the line into raw mode (no echo, no
// line editing, no translation of any byte), so that every byte passes unchanged.
// Throws OsError when the system refuses.
PtyPair OpenPtyPair();

// Closes the master if it is still open and forgets the slave path. The slave side
// then sees a hang-up. Safe to call twice.
void ClosePtyPair(PtyPair& pair);

}  // namespace dorvane
