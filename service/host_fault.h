// A fault of the host's file system during a request, in the words the log shows.
// Such a fault ends the request it happened in, never serving: the request's log
// line names the cause and what was being done ("Disk full: saving games/x.prg").
#pragma once

#include <string>

namespace dorvane {

// The cause for an errno value, in a few plain words: "Disk full" for ENOSPC,
// "File too large" for EFBIG, "Permission denied" for EACCES and EPERM, the
// system's own text for the rest.
std::string FaultInWords(int code);

// The log line of a fault: "<cause>: <doing> <what>", cut to a short text.
std::string FaultLine(int code, const std::string& doing, const std::string& what);

}  // namespace dorvane
