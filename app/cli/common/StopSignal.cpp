#include "StopSignal.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <stdexcept>

namespace {

int gWriteFd = -1;

void OnStopSignal(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(gWriteFd, &byte, 1);
  errno = saved;
}

}  // namespace

TStopSignal::TStopSignal() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
    throw std::runtime_error("cannot create the stop pipe");
  }
  FReadFd = fds[0];
  gWriteFd = fds[1];
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART | SA_RESETHAND;  // a second Ctrl-C ends the program at once
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

TStopSignal::~TStopSignal() {
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
  ::close(FReadFd);
  ::close(gWriteFd);
  gWriteFd = -1;
}

bool TStopSignal::Requested() const {
  return WaitFor(std::chrono::milliseconds(0));
}

bool TStopSignal::WaitFor(std::chrono::milliseconds Time) const {
  const auto deadline = std::chrono::steady_clock::now() + Time;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd p{FReadFd, POLLIN, 0};
    const int n = ::poll(&p, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
    if (n > 0) return true;
    if (n == 0 || errno != EINTR) return false;
  }
}
