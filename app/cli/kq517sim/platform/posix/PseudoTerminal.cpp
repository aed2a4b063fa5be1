#include "../PseudoTerminal.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

bool TPseudoTerminal::Available() {
  return true;
}

void TPseudoTerminal::Open() {
  Close();
  FMaster = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  char name[128] = {};
  if (FMaster < 0 || ::grantpt(FMaster) != 0 || ::unlockpt(FMaster) != 0 ||
      ::ptsname_r(FMaster, name, sizeof name) != 0) {
    const std::string reason = std::strerror(errno);
    Close();
    throw std::runtime_error("cannot create a pseudo-terminal: " + reason);
  }
  FPath = name;
  FKeeper = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (FKeeper < 0) {
    const std::string reason = std::strerror(errno);
    Close();
    throw std::runtime_error("cannot open the pseudo-terminal " + FPath + ": " + reason);
  }
  // Raw from the start: an echoing line would send our replies back to us
  // before a reader has set its own mode.
  termios raw{};
  if (::tcgetattr(FKeeper, &raw) == 0) {
    ::cfmakeraw(&raw);
    ::tcsetattr(FKeeper, TCSANOW, &raw);
  }
}

void TPseudoTerminal::Close() noexcept {
  if (FKeeper >= 0) ::close(FKeeper);
  if (FMaster >= 0) ::close(FMaster);
  FKeeper = FMaster = -1;
}
