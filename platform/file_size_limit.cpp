#include "platform/file_size_limit.h"

#include <csignal>

namespace dorvane {

void IgnoreFileSizeSignal() { std::signal(SIGXFSZ, SIG_IGN); }

}  // namespace dorvane
