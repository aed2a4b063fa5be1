// TTcpSocket on POSIX sockets.

#include "TcpSocket.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

class TResolverCategory : public std::error_category {
 public:
  const char* name() const noexcept override { return "resolver"; }
  std::string message(int Code) const override { return gai_strerror(Code); }
};

[[noreturn]] void ThrowOSError(int Errno, const char* What) {
  throw std::system_error(Errno, std::system_category(), What);
}

// Milliseconds left until Deadline, rounded up, never negative.
int MillisecondsUntil(Clock::time_point Deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(Deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

bool SetNonBlocking(int Socket, bool NonBlocking) {
  const int flags = fcntl(Socket, F_GETFL, 0);
  if (flags < 0) return false;
  const int wanted = NonBlocking ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  return fcntl(Socket, F_SETFL, wanted) == 0;
}

// Connects one socket to Address; returns it, or -1 with errno set.
int ConnectOne(const addrinfo& Address, int TimeoutMs, Clock::time_point Deadline) {
  const int s = ::socket(Address.ai_family, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  auto fail = [&](int err) {
    if (s >= 0) ::close(s);
    errno = err;
    return -1;
  };
  if (s < 0) return fail(errno);
  // Connect without blocking so that the time-out is ours to choose.
  if (!SetNonBlocking(s, true)) return fail(errno);
  if (::connect(s, Address.ai_addr, Address.ai_addrlen) != 0) {
    if (errno != EINPROGRESS && errno != EINTR) return fail(errno);
    pollfd pfd{s, POLLOUT, 0};
    for (;;) {
      const int wait = TimeoutMs > 0 ? MillisecondsUntil(Deadline) : -1;
      const int ready = ::poll(&pfd, 1, wait);
      if (ready > 0) break;
      if (ready == 0) return fail(ETIMEDOUT);
      if (errno != EINTR) return fail(errno);
    }
    int err = 0;
    socklen_t len = sizeof(err);
    if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return fail(errno);
    if (err != 0) return fail(err);
  }
  if (!SetNonBlocking(s, false)) return fail(errno);
  // Requests are small and answered one at a time: send each at once
  // (Modbus messaging on TCP/IP implementation guide, 4.3.1.1).
  const int one = 1;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
  return s;
}

}  // namespace

const std::error_category& ResolverCategory() {
  static const TResolverCategory category;
  return category;
}

TTcpSocket::~TTcpSocket() {
  Close();
}

TTcpSocket::TTcpSocket(TTcpSocket&& Other) noexcept
    : FHandle(std::exchange(Other.FHandle, InvalidNativeSocket)) {}

TTcpSocket& TTcpSocket::operator=(TTcpSocket&& Other) noexcept {
  if (this != &Other) {
    Close();
    FHandle = std::exchange(Other.FHandle, InvalidNativeSocket);
  }
  return *this;
}

void TTcpSocket::Close() noexcept {
  if (FHandle != InvalidNativeSocket) ::close(FHandle);
  FHandle = InvalidNativeSocket;
}

TTcpSocket TTcpSocket::Connect(const std::string& Host, uint16_t Port, TIPVersion Version,
                               int TimeoutMs) {
  addrinfo hints{};
  hints.ai_family = Version == TIPVersion::IPv6 ? AF_INET6 : AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* found = nullptr;
  const int resolved = getaddrinfo(Host.c_str(), std::to_string(Port).c_str(), &hints, &found);
  if (resolved == EAI_SYSTEM) ThrowOSError(errno, "getaddrinfo");
  if (resolved != 0) throw std::system_error(resolved, ResolverCategory(), "getaddrinfo");

  // Try every address the name resolves to, all within one connect time-out.
  const auto deadline = Clock::now() + std::chrono::milliseconds(TimeoutMs);
  int lastError = EADDRNOTAVAIL;
  for (const addrinfo* ai = found; ai != nullptr; ai = ai->ai_next) {
    const int socket = ConnectOne(*ai, TimeoutMs, deadline);
    if (socket >= 0) {
      freeaddrinfo(found);
      return TTcpSocket(socket);
    }
    lastError = errno;
    if (TimeoutMs > 0 && Clock::now() >= deadline) break;
  }
  freeaddrinfo(found);
  ThrowOSError(lastError, "connect");
}

void TTcpSocket::SendAll(std::span<const uint8_t> Bytes) {
  std::size_t sent = 0;
  while (sent < Bytes.size()) {
    const ssize_t n = ::send(FHandle, Bytes.data() + sent, Bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowOSError(errno, "send");
    }
    sent += static_cast<std::size_t>(n);
  }
}

bool TTcpSocket::WaitReadable(int TimeoutMs) {
  pollfd pfd{FHandle, POLLIN, 0};
  const int ready = ::poll(&pfd, 1, TimeoutMs < 0 ? -1 : TimeoutMs);
  if (ready < 0 && errno != EINTR) ThrowOSError(errno, "poll");
  return ready > 0;
}

TTcpSocket::TReceived TTcpSocket::ReceiveNow(std::span<uint8_t> Into) {
  for (;;) {
    const ssize_t n = ::recv(FHandle, Into.data(), Into.size(), MSG_DONTWAIT);
    if (n > 0) return {static_cast<std::size_t>(n), false};
    if (n == 0) return {0, true};
    if (errno == EAGAIN || errno == EWOULDBLOCK) return {0, false};
    if (errno != EINTR) ThrowOSError(errno, "recv");
  }
}
