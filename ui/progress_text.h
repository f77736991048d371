// The words on the progress bar while a load or save runs. Pure text; no Qt.
#pragma once

#include <cstdint>
#include <string>

namespace dorvane {

// "game.prg  45%  11.2 kB/s  3 s left" for a transfer of known size; for a save,
// whose size is known only at its end, "game.prg  12,345 bytes  11.2 kB/s". The
// speed and the time left show once `elapsed_ms` is long enough to tell them.
std::string TransferText(const std::string& name, std::uint64_t done, std::uint64_t total,
                         std::uint32_t elapsed_ms);

}  // namespace dorvane
