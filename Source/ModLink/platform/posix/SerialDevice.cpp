// Only the kernel's own termios headers are used here (termios2 and BOTHER for
// any bit rate); they cannot be mixed with <termios.h>.
#include "../SerialDevice.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

#include "../../ModLinkMessages.h"
#include "../OsError.h"
#include "../OsEvent.h"

TSerialDevice::~TSerialDevice() {
  Close();
}

std::string TSerialDevice::DevicePath(const std::string& PortName) {
  if (PortName.find('/') != std::string::npos) return PortName;
  return "/dev/" + PortName;
}

void TSerialDevice::Fail(const char* What) const {
  RaiseLastOSError(std::string(What) + " " + FName);
}

void TSerialDevice::Open(const std::string& PortName) {
  Close();
  FName = PortName.empty() ? "(no port name)" : DevicePath(PortName);
  errno = ENOENT;
  const int Handle =
      PortName.empty() ? -1 : ::open(FName.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (Handle < 0) Fail(ModLinkMessages::SCouldNotOpenPort);
  // Not shared: a second open of the same device by another program fails.
  if (!::isatty(Handle) || (::ioctl(Handle, TIOCEXCL) < 0 && errno != ENOTTY)) {
    const int Saved = errno;
    ::close(Handle);
    errno = Saved;
    Fail(ModLinkMessages::SCouldNotOpenPort);
  }
  FHandle = Handle;
  FOwned = true;
  FHasLineStatus = true;
}

void TSerialDevice::Attach(TNativeHandle Handle) {
  Close();
  FName = "descriptor " + std::to_string(Handle);
  errno = EBADF;
  if (Handle < 0 || ::fcntl(Handle, F_GETFD) < 0) Fail(ModLinkMessages::SCouldNotOpenPort);
  // The wait and the reads rely on a non-blocking descriptor.
  const int Flags = ::fcntl(Handle, F_GETFL);
  if (Flags < 0 || ::fcntl(Handle, F_SETFL, Flags | O_NONBLOCK) < 0)
    Fail(ModLinkMessages::SCouldNotOpenPort);
  FHandle = Handle;
  FOwned = false;
  FHasLineStatus = true;
}

void TSerialDevice::Close() {
  if (FHandle >= 0 && FOwned) {
    ::ioctl(FHandle, TIOCNXCL);
    ::close(FHandle);
  }
  FHandle = InvalidNativeHandle;
  FOwned = false;
}

void TSerialDevice::SetQueueSizes(int InputSize, int OutputSize) {
  errno = InputSize < 0 || OutputSize < 0 ? EINVAL : EBADF;
  if (InputSize < 0 || OutputSize < 0 || FHandle < 0) Fail("set the queue sizes of");
}

void TSerialDevice::SetRawTimeouts() {
  termios2 Tio{};
  if (::ioctl(FHandle, TCGETS2, &Tio) < 0) Fail("read the settings of");
  Tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IXON | IXOFF | IXANY);
  Tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  Tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  Tio.c_cflag |= CREAD | CLOCAL;
  Tio.c_cc[VMIN] = 0;
  Tio.c_cc[VTIME] = 0;
  if (::ioctl(FHandle, TCSETS2, &Tio) < 0) Fail("set raw mode on");
}

void TSerialDevice::CheckWaitable() {
  pollfd Fd{FHandle, POLLIN, 0};
  if (::poll(&Fd, 1, 0) < 0) Fail("poll");
  errno = EBADF;
  if (Fd.revents & POLLNVAL) Fail("poll");
}

void TSerialDevice::ApplyLineSettings(const TLineSettings& Settings) {
  errno = FHandle < 0 ? EBADF : EINVAL;
  if (FHandle < 0 || Settings.BaudRate == 0) Fail("set the line settings of");
  termios2 Tio{};
  if (::ioctl(FHandle, TCGETS2, &Tio) < 0) Fail("read the settings of");
  Tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS |
                                        (CBAUD << IBSHIFT));
  Tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT) | CREAD | CLOCAL;
  Tio.c_ispeed = Settings.BaudRate;
  Tio.c_ospeed = Settings.BaudRate;
  Tio.c_cflag |= Settings.DataBits == 7 ? CS7 : CS8;
  if (Settings.Parity != 'N') {
    Tio.c_cflag |= PARENB;
    if (Settings.Parity == 'O') Tio.c_cflag |= PARODD;
    Tio.c_iflag |= INPCK;  // parity check on input
  } else {
    Tio.c_iflag &= ~static_cast<tcflag_t>(INPCK);
  }
  if (Settings.StopBits == 2) Tio.c_cflag |= CSTOPB;
  if (Settings.RtsCtsFlowControl) Tio.c_cflag |= CRTSCTS;
  Tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  Tio.c_cc[VSTART] = 0x11;
  Tio.c_cc[VSTOP] = 0x13;
  if (::ioctl(FHandle, TCSETS2, &Tio) < 0) Fail("set the line settings of");
  const std::uint32_t Bits = 1 + static_cast<std::uint32_t>(Settings.DataBits) +
                             (Settings.Parity != 'N' ? 1 : 0) +
                             static_cast<std::uint32_t>(Settings.StopBits);
  FCharacterTimeUs = static_cast<std::uint32_t>(Bits * 1'000'000ull / Settings.BaudRate) + 1;
  // Without hardware flow control the lines take the requested levels; a device
  // without modem lines still counts as configured.
  int Rts = TIOCM_RTS, Dtr = TIOCM_DTR;
  if (!Settings.RtsCtsFlowControl) ::ioctl(FHandle, Settings.RaiseRTS ? TIOCMBIS : TIOCMBIC, &Rts);
  ::ioctl(FHandle, Settings.RaiseDTR ? TIOCMBIS : TIOCMBIC, &Dtr);
}

std::uint32_t TSerialDevice::CurrentBaudRate() const {
  termios2 Tio{};
  if (::ioctl(FHandle, TCGETS2, &Tio) < 0) Fail("read the settings of");
  return Tio.c_ospeed;
}

void TSerialDevice::SetRTS(bool Level) {
  int Bits = TIOCM_RTS;
  if (::ioctl(FHandle, Level ? TIOCMBIS : TIOCMBIC, &Bits) < 0)
    Fail(Level ? "raise RTS on" : "drop RTS on");
}

void TSerialDevice::SetDTR(bool Level) {
  int Bits = TIOCM_DTR;
  if (::ioctl(FHandle, Level ? TIOCMBIS : TIOCMBIC, &Bits) < 0)
    Fail(Level ? "raise DTR on" : "drop DTR on");
}

void TSerialDevice::Purge(bool Input, bool Output) {
  if (!Input && !Output) return;
  const int Queue = Input && Output ? TCIOFLUSH : Input ? TCIFLUSH : TCOFLUSH;
  if (::ioctl(FHandle, TCFLSH, Queue) < 0) Fail("purge");
}

// tcdrain() would wait as long as the flow control holds the bytes back: the queue is
// watched instead, sleeping about as long as what is left takes at the programmed rate.
bool TSerialDevice::Drain(std::uint32_t TimeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto Deadline = Clock::now() + std::chrono::milliseconds(TimeoutMs);
  for (;;) {
    const std::size_t Pending = OutputPending();
    if (Pending == 0) return true;
    const auto Now = Clock::now();
    if (Now >= Deadline) {
      Purge(false, true);
      return false;
    }
    const auto LeavesIn = std::chrono::microseconds(Pending * FCharacterTimeUs);
    std::this_thread::sleep_for(std::min<Clock::duration>(
        std::max<Clock::duration>(LeavesIn, std::chrono::microseconds(100)), Deadline - Now));
  }
}

std::size_t TSerialDevice::OutputPending() const {
  int Queued = 0;
  if (::ioctl(FHandle, TIOCOUTQ, &Queued) < 0) Fail("read the output queue of");
  if (Queued > 0) return static_cast<std::size_t>(Queued);
  // The driver's queue is empty; a UART may still be shifting out its last character
  // (other devices do not tell, and count as empty; they are not asked again).
  if (!FHasLineStatus) return 0;
  unsigned Status = 0;
  if (::ioctl(FHandle, TIOCSERGETLSR, &Status) != 0) {
    FHasLineStatus = false;
    return 0;
  }
  return (Status & TIOCSER_TEMT) ? 0 : 1;
}

std::size_t TSerialDevice::Read(std::uint8_t* Data, std::size_t Count) {
  if (Count == 0) return 0;
  for (;;) {
    const ssize_t Got = ::read(FHandle, Data, Count);
    // With VMIN = VTIME = 0 an empty queue reads as 0; a hang-up is seen by the wait.
    if (Got >= 0) return static_cast<std::size_t>(Got);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    Fail("read from");
  }
}

std::size_t TSerialDevice::Write(const std::uint8_t* Data, std::size_t Count,
                                 std::uint32_t TimeoutMs) {
  using Clock = std::chrono::steady_clock;
  const bool Bounded = TimeoutMs != TOsEvent::InfiniteTimeout;
  const auto Deadline = Clock::now() + std::chrono::milliseconds(Bounded ? TimeoutMs : 0);
  std::size_t Written = 0;
  while (Written < Count) {
    const ssize_t Put = ::write(FHandle, Data + Written, Count - Written);
    if (Put > 0) {
      Written += static_cast<std::size_t>(Put);
      continue;
    }
    if (Put < 0 && errno == EINTR) continue;
    if (Put < 0 && errno != EAGAIN && errno != EWOULDBLOCK) Fail("write to");
    // The output queue is full: wait until it takes more, within the time-out.
    int Wait = -1;
    if (Bounded) {
      const auto Left =
          std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - Clock::now()).count();
      if (Left <= 0) break;
      Wait = static_cast<int>(Left);
    }
    pollfd Fd{FHandle, POLLOUT, 0};
    const int Ready = ::poll(&Fd, 1, Wait);
    if (Ready < 0 && errno != EINTR) Fail("wait for");
    if (Ready > 0 && (Fd.revents & (POLLERR | POLLHUP | POLLNVAL)) && !(Fd.revents & POLLOUT)) {
      errno = EIO;
      Fail("write to");
    }
  }
  return Written;
}

TWaitResult TSerialDevice::WaitForInput(TOsEvent& Break, std::uint32_t TimeoutMs) {
  using Clock = std::chrono::steady_clock;
  const bool Bounded = TimeoutMs != TOsEvent::InfiniteTimeout;
  const auto Deadline = Clock::now() + std::chrono::milliseconds(Bounded ? TimeoutMs : 0);
  for (;;) {
    // ppoll takes the time left to the nanosecond: a wait rounded down to whole
    // milliseconds would end an RTU silence up to a millisecond early.
    timespec Wait{};
    timespec* WaitFor = nullptr;
    if (Bounded) {
      const auto Left = std::chrono::duration_cast<std::chrono::nanoseconds>(
                            std::max(Clock::duration::zero(), Deadline - Clock::now()))
                            .count();
      Wait.tv_sec = static_cast<time_t>(Left / 1'000'000'000);
      Wait.tv_nsec = static_cast<long>(Left % 1'000'000'000);
      WaitFor = &Wait;
    }
    pollfd Fds[2] = {{FHandle, POLLIN, 0}, {Break.Handle(), POLLIN, 0}};
    const int Ready = ::ppoll(Fds, 2, WaitFor, nullptr);
    if (Ready < 0) {
      if (errno == EINTR) continue;
      Fail("wait for");
    }
    if (Ready == 0) return TWaitResult::TimedOut;
    if (Fds[1].revents & POLLIN) {
      Break.Acknowledge();
      return TWaitResult::Broken;
    }
    if (Fds[0].revents & POLLNVAL) {
      errno = EBADF;
      Fail("wait for");
    }
    // After a hang-up the descriptor stays readable for ever: only bytes still
    // queued count as data.
    if (Fds[0].revents & (POLLHUP | POLLERR)) {
      int Queued = 0;
      if (::ioctl(FHandle, TIOCINQ, &Queued) == 0 && Queued > 0) return TWaitResult::DataReady;
      errno = EIO;
      RaiseLastOSError("serial device " + FName + " hung up");
    }
    if (Fds[0].revents & POLLIN) return TWaitResult::DataReady;
    // Woken without input, hang-up or error: not expected from a tty.
    errno = EIO;
    RaiseLastOSError("serial device " + FName + " hung up");
  }
}

// termios has no DSR-paced output: the modem-status lines are only read.
bool TSerialDevice::SupportsDtrDsrFlowControl() {
  return false;
}
