#include "../WakeChannel.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

TWakeChannel::TWakeChannel() : FRead(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (FRead < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
  FWrite = FRead;
}

TWakeChannel::~TWakeChannel() {
  ::close(FRead);
}

void TWakeChannel::Signal() noexcept {
  const int saved = errno;  // a signal handler must leave errno as it found it
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = ::write(FWrite, &one, sizeof one);
  errno = saved;
}

void TWakeChannel::Drain() noexcept {
  std::uint64_t count = 0;
  [[maybe_unused]] const ssize_t n = ::read(FRead, &count, sizeof count);
}
