#include "../OsEvent.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "../OsError.h"

namespace {
// poll() time-out argument for a millisecond time-out where InfiniteTimeout means no limit.
int PollTimeout(std::uint32_t Timeout) {
  if (Timeout == TOsEvent::InfiniteTimeout) return -1;
  return Timeout > static_cast<std::uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(Timeout);
}
}  // namespace

TOsEvent::TOsEvent(bool ManualReset)
    : FHandle(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)), FManualReset(ManualReset) {
  if (FHandle < 0) RaiseLastOSError("eventfd");
}

TOsEvent::~TOsEvent() {
  ::close(FHandle);
}

void TOsEvent::Set() {
  const std::uint64_t One = 1;
  // EAGAIN means the counter is saturated, which still reads as set.
  if (::write(FHandle, &One, sizeof One) < 0 && errno != EAGAIN) RaiseLastOSError("eventfd write");
}

void TOsEvent::Reset() {
  std::uint64_t Value;
  if (::read(FHandle, &Value, sizeof Value) < 0 && errno != EAGAIN)
    RaiseLastOSError("eventfd read");
}

bool TOsEvent::IsSet() const {
  pollfd Fd{FHandle, POLLIN, 0};
  return ::poll(&Fd, 1, 0) > 0 && (Fd.revents & POLLIN);
}

void TOsEvent::Acknowledge() {
  if (!FManualReset) Reset();
}

bool TOsEvent::WaitFor(std::uint32_t Timeout) {
  pollfd Fd{FHandle, POLLIN, 0};
  for (;;) {
    const int Ready = ::poll(&Fd, 1, PollTimeout(Timeout));
    if (Ready < 0) {
      if (errno == EINTR) continue;
      RaiseLastOSError("poll");
    }
    if (Ready == 0) return false;
    Acknowledge();
    return true;
  }
}
