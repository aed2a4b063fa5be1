// TStreamSocket on POSIX sockets: a non-blocking descriptor, poll() for every wait.
#include "../StreamSocket.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "../OsEvent.h"

namespace {

using TClock = std::chrono::steady_clock;

class TResolverCategory : public std::error_category {
 public:
  const char* name() const noexcept override { return "resolver"; }
  std::string message(int Code) const override { return gai_strerror(Code); }
};

const std::error_category& ResolverCategory() {
  static const TResolverCategory Category;
  return Category;
}

// poll()'s time-out for the time left until Deadline, rounded up; -1 without a deadline.
int PollTimeout(bool Bounded, TClock::time_point Deadline) {
  if (!Bounded) return -1;
  const auto Left = std::chrono::ceil<std::chrono::milliseconds>(Deadline - TClock::now()).count();
  return static_cast<int>(std::clamp<long long>(Left, 0, 1 << 30));
}

// One non-blocking socket connected to Address, or -1 with errno set.
int ConnectOne(const addrinfo& Address, bool Bounded, TClock::time_point Deadline) {
  const int Socket =
      ::socket(Address.ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
  if (Socket < 0) return -1;
  const auto Fail = [Socket](int Error) {
    ::close(Socket);
    errno = Error;
    return -1;
  };
  if (::connect(Socket, Address.ai_addr, Address.ai_addrlen) != 0) {
    if (errno != EINPROGRESS && errno != EINTR) return Fail(errno);
    pollfd Fd{Socket, POLLOUT, 0};
    for (;;) {
      const int Ready = ::poll(&Fd, 1, PollTimeout(Bounded, Deadline));
      if (Ready > 0) break;
      if (Ready == 0) return Fail(ETIMEDOUT);
      if (errno != EINTR) return Fail(errno);
    }
    int Error = 0;
    socklen_t Length = sizeof Error;
    if (::getsockopt(Socket, SOL_SOCKET, SO_ERROR, &Error, &Length) != 0) return Fail(errno);
    if (Error != 0) return Fail(Error);
  }
  // A query is small and waits for its answer: it goes out at once.
  const int One = 1;
  ::setsockopt(Socket, IPPROTO_TCP, TCP_NODELAY, &One, sizeof One);
  return Socket;
}

long Transferred(ssize_t Count, std::error_code& Error) {
  if (Count >= 0) return static_cast<long>(Count);
  if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return TStreamSocket::WouldBlock;
  Error = std::error_code(errno, std::generic_category());
  return TStreamSocket::Failed;
}

}  // namespace

TStreamSocket::TStreamSocket() = default;

TStreamSocket::~TStreamSocket() {
  Close();
}

void TStreamSocket::Close() noexcept {
  const THandle Handle = FHandle.exchange(NoSocket);
  if (Handle != NoSocket) ::close(static_cast<int>(Handle));
}

void TStreamSocket::Connect(const std::string& Host, std::uint16_t Port, std::uint32_t TimeoutMs,
                            const std::string& What) {
  Close();
  addrinfo Hints{};
  Hints.ai_family = AF_UNSPEC;
  Hints.ai_socktype = SOCK_STREAM;
  Hints.ai_protocol = IPPROTO_TCP;
  addrinfo* Found = nullptr;
  const int Resolved = ::getaddrinfo(Host.c_str(), std::to_string(Port).c_str(), &Hints, &Found);
  if (Resolved == EAI_SYSTEM) throw std::system_error(errno, std::generic_category(), What);
  if (Resolved != 0) throw std::system_error(Resolved, ResolverCategory(), What);

  // Every address the name resolves to is tried, all within the one time-out.
  const bool Bounded = TimeoutMs != 0;
  const auto Deadline = TClock::now() + std::chrono::milliseconds(TimeoutMs);
  int LastError = EADDRNOTAVAIL;
  for (const addrinfo* Address = Found; Address != nullptr; Address = Address->ai_next) {
    const int Socket = ConnectOne(*Address, Bounded, Deadline);
    if (Socket >= 0) {
      ::freeaddrinfo(Found);
      FHandle.store(Socket);
      return;
    }
    LastError = errno;
    if (Bounded && TClock::now() >= Deadline) break;
  }
  ::freeaddrinfo(Found);
  throw std::system_error(LastError, std::generic_category(), What);
}

long TStreamSocket::Receive(std::uint8_t* Data, std::size_t Count, std::error_code& Error) {
  return Transferred(::recv(static_cast<int>(FHandle.load()), Data, Count, MSG_DONTWAIT), Error);
}

long TStreamSocket::Peek(std::error_code& Error) {
  std::uint8_t Next = 0;
  return Transferred(::recv(static_cast<int>(FHandle.load()), &Next, 1, MSG_DONTWAIT | MSG_PEEK),
                     Error);
}

long TStreamSocket::Send(const std::uint8_t* Data, std::size_t Count, std::error_code& Error) {
  return Transferred(
      ::send(static_cast<int>(FHandle.load()), Data, Count, MSG_DONTWAIT | MSG_NOSIGNAL), Error);
}

TWaitResult TStreamSocket::Wait(TOsEvent* Break, std::uint32_t TimeoutMs, bool ForWrite,
                                const std::string& What) {
  const bool Bounded = TimeoutMs != TOsEvent::InfiniteTimeout;
  const auto Deadline = TClock::now() + std::chrono::milliseconds(Bounded ? TimeoutMs : 0);
  pollfd Fds[2] = {
      {static_cast<int>(FHandle.load()), static_cast<short>(ForWrite ? POLLOUT : POLLIN), 0},
      {Break ? Break->Handle() : -1, POLLIN, 0}};
  for (;;) {
    const int Ready = ::poll(Fds, 2, PollTimeout(Bounded, Deadline));
    if (Ready < 0) {
      if (errno == EINTR) continue;
      throw std::system_error(errno, std::generic_category(), What);
    }
    if (Ready == 0) return TWaitResult::TimedOut;
    if (Fds[1].revents & POLLIN) {
      Break->Acknowledge();
      return TWaitResult::Broken;
    }
    // Input, the other end's close or a failure: the next receive tells which.
    return TWaitResult::DataReady;
  }
}
