// A file-size limit (ulimit -f) must end a save the way a full disk does, not kill
// the server: the kernel's SIGXFSZ is ignored, so the write fails with EFBIG and
// the save's usual clean-up runs.
#pragma once

namespace dorvane {

// Ignores SIGXFSZ for the whole process. Every front end calls it once at start.
void IgnoreFileSizeSignal();

}  // namespace dorvane
