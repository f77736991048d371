#include "ports/pty_pair.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>

#include "link/os_error.h"

namespace dorvane {

namespace {

[[noreturn]] void CloseAndThrow(int fd, int code) {
  ::close(fd);
  throw OsError(code);
}

}  // namespace

PtyPair OpenPtyPair() {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0) throw OsError(errno);
  if (::grantpt(master) != 0 || ::unlockpt(master) != 0) CloseAndThrow(master, errno);

  std::array<char, 128> name{};
  if (::ptsname_r(master, name.data(), name.size()) != 0) CloseAndThrow(master, errno);

  // On Linux the termios calls on a master act on its slave, so the line is raw
  // before anyone opens the slave and the first bytes are not echoed or mangled.
  termios tio{};
  if (::tcgetattr(master, &tio) != 0) CloseAndThrow(master, errno);
  ::cfmakeraw(&tio);
  if (::tcsetattr(master, TCSANOW, &tio) != 0) CloseAndThrow(master, errno);

  PtyPair pair;
  pair.master = master;
  pair.slave_path = name.data();
  return pair;
}

void ClosePtyPair(PtyPair& pair) {
  if (pair.master >= 0) ::close(pair.master);
  pair.master = -1;
  pair.slave_path.clear();
}

}  // namespace dorvane
