#include "TcpClient.h"

#include <cerrno>
#include <chrono>
#include <cstring>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Receive granularity; a Modbus TCP frame is at most 260 bytes.
constexpr std::size_t ReceiveChunk = 4096;

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

}  // namespace

ETcpConnectionError::ETcpConnectionError(const std::string& Message, int OSError)
    : std::runtime_error(Message), FOSError(OSError) {}

TTcpClient::TTcpClient() = default;

TTcpClient::~TTcpClient() { Disconnect(); }

std::string TTcpClient::Endpoint() const {
  const bool bracket = FHost.find(':') != std::string::npos;
  return (bracket ? "[" + FHost + "]" : FHost) + ":" + std::to_string(FPort);
}

void TTcpClient::Connect() {
  if (FSocket >= 0) throw ETcpConnectionError("Already connected to " + Endpoint());
  if (FHost.empty()) throw ETcpConnectionError("Cannot connect: no host given");

  addrinfo hints{};
  hints.ai_family = FIPVersion == TIPVersion::IPv6 ? AF_INET6 : AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* found = nullptr;
  const int resolved = getaddrinfo(FHost.c_str(), std::to_string(FPort).c_str(), &hints, &found);
  if (resolved != 0) {
    const int err = resolved == EAI_SYSTEM ? errno : 0;
    throw ETcpConnectionError("Cannot connect to " + Endpoint() + ": " +
                                  (err != 0 ? std::strerror(err) : gai_strerror(resolved)),
                              err);
  }

  // Try every address the name resolves to, all within one connect time-out.
  const auto deadline = Clock::now() + std::chrono::milliseconds(FConnectTimeout);
  std::string reason = "no address";
  int lastError = 0;
  for (addrinfo* ai = found; ai != nullptr; ai = ai->ai_next) {
    const int socket = OpenSocket(ai->ai_addr, ai->ai_addrlen, ai->ai_family, deadline, reason);
    if (socket >= 0) {
      freeaddrinfo(found);
      FSocket = socket;
      FPeerClosed = false;
      FInputBuffer.clear();
      FInputStart = 0;
      return;
    }
    lastError = errno;
    if (FConnectTimeout > 0 && Clock::now() >= deadline) break;
  }
  freeaddrinfo(found);
  throw ETcpConnectionError("Cannot connect to " + Endpoint() + ": " + reason, lastError);
}

// Connects one socket to Address; returns it, or -1 with Reason and errno set.
int TTcpClient::OpenSocket(const void* Address, unsigned AddressLength, int Family,
                           std::chrono::steady_clock::time_point Deadline, std::string& Reason) {
  const int s = ::socket(Family, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  auto fail = [&](int err) {
    Reason = std::strerror(err);
    if (s >= 0) ::close(s);
    errno = err;
    return -1;
  };
  if (s < 0) return fail(errno);
  // Connect without blocking so that the time-out is ours to choose.
  if (!SetNonBlocking(s, true)) return fail(errno);
  if (::connect(s, static_cast<const sockaddr*>(Address), AddressLength) != 0) {
    if (errno != EINPROGRESS && errno != EINTR) return fail(errno);
    pollfd pfd{s, POLLOUT, 0};
    for (;;) {
      const int wait = FConnectTimeout > 0 ? MillisecondsUntil(Deadline) : -1;
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

void TTcpClient::Disconnect() noexcept {
  if (FSocket >= 0) ::close(FSocket);
  FSocket = -1;
  FPeerClosed = false;
  FInputBuffer.clear();
  FInputStart = 0;
}

bool TTcpClient::Connected() {
  if (FSocket < 0) return false;
  try {
    ReceiveAvailable();
  } catch (const ETcpConnectionError&) {
    return false;
  }
  if (FPeerClosed) Disconnect();
  return FSocket >= 0;
}

void TTcpClient::CheckForGracefulDisconnect() {
  if (FSocket < 0) throw ETcpConnectionError("Not connected to " + Endpoint());
  ReceiveAvailable();
  if (FPeerClosed) ThrowClosedByPeer();
}

void TTcpClient::ThrowClosedByPeer() {
  Disconnect();
  throw ETcpConnectionError("Connection to " + Endpoint() + " closed by the server");
}

void TTcpClient::WriteDirect(std::span<const uint8_t> Bytes) {
  if (FSocket < 0) throw ETcpConnectionError("Not connected to " + Endpoint());
  std::size_t sent = 0;
  while (sent < Bytes.size()) {
    const ssize_t n = ::send(FSocket, Bytes.data() + sent, Bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      FailAndClose("Cannot send to " + Endpoint(), errno);
    }
    sent += static_cast<std::size_t>(n);
  }
}

bool TTcpClient::CheckForDataOnSource(int TimeoutMs) {
  if (FSocket < 0) throw ETcpConnectionError("Not connected to " + Endpoint());
  if (FPeerClosed) ThrowClosedByPeer();
  pollfd pfd{FSocket, POLLIN, 0};
  const int ready = ::poll(&pfd, 1, TimeoutMs < 0 ? -1 : TimeoutMs);
  if (ready < 0) {
    if (errno == EINTR) return false;
    FailAndClose("Cannot wait for data from " + Endpoint(), errno);
  }
  if (ready == 0) return false;
  const std::size_t before = InputBufferSize();
  ReceiveAvailable();
  const bool added = InputBufferSize() > before;
  // Bytes that came with the close are handed out first; the close is
  // reported on the next look.
  if (FPeerClosed && !added) ThrowClosedByPeer();
  return added;
}

// Moves everything the socket holds into the input buffer without waiting.
// An orderly close by the peer only sets FPeerClosed, so that a reply sent
// just before the close can still be taken.
void TTcpClient::ReceiveAvailable() {
  if (FInputStart > 0) {
    FInputBuffer.erase(FInputBuffer.begin(),
                       FInputBuffer.begin() + static_cast<std::ptrdiff_t>(FInputStart));
    FInputStart = 0;
  }
  uint8_t chunk[ReceiveChunk];
  while (!FPeerClosed) {
    const ssize_t n = ::recv(FSocket, chunk, sizeof(chunk), MSG_DONTWAIT);
    if (n > 0) {
      FInputBuffer.insert(FInputBuffer.end(), chunk, chunk + n);
      if (static_cast<std::size_t>(n) < sizeof(chunk)) return;
    } else if (n == 0) {
      FPeerClosed = true;
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      return;
    } else if (errno != EINTR) {
      FailAndClose("Cannot receive from " + Endpoint(), errno);
    }
  }
}

void TTcpClient::FailAndClose(const std::string& What, int Errno) {
  Disconnect();
  throw ETcpConnectionError(Errno != 0 ? What + ": " + std::strerror(Errno) : What, Errno);
}

std::span<const uint8_t> TTcpClient::InputBuffer() const {
  return std::span<const uint8_t>(FInputBuffer).subspan(FInputStart);
}

void TTcpClient::ReadBytes(std::vector<uint8_t>& Dest, std::size_t Count) {
  if (Count > InputBufferSize())
    throw std::out_of_range("ReadBytes: more bytes asked than received");
  const auto first = FInputBuffer.begin() + static_cast<std::ptrdiff_t>(FInputStart);
  Dest.insert(Dest.end(), first, first + static_cast<std::ptrdiff_t>(Count));
  DiscardBytes(Count);
}

void TTcpClient::DiscardBytes(std::size_t Count) {
  if (Count > InputBufferSize())
    throw std::out_of_range("DiscardBytes: more bytes asked than received");
  FInputStart += Count;
  if (FInputStart == FInputBuffer.size()) {
    FInputBuffer.clear();
    FInputStart = 0;
  }
}
