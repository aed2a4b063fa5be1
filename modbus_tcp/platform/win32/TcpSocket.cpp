// TTcpSocket on Winsock 2. The library is started once per process, on first use.
#include "TcpSocket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

class TResolverCategory : public std::error_category {
 public:
  const char* name() const noexcept override { return "resolver"; }
  // Resolver failures are Winsock codes.
  std::string message(int Code) const override { return std::system_category().message(Code); }
};

[[noreturn]] void ThrowOSError(int Error, const char* What) {
  throw std::system_error(Error, std::system_category(), What);
}

void StartWinsock() {
  static const int Started = [] {
    WSADATA Data{};
    const int Error = WSAStartup(MAKEWORD(2, 2), &Data);
    if (Error != 0) ThrowOSError(Error, "WSAStartup");
    return 0;
  }();
  (void)Started;
}

int MillisecondsUntil(Clock::time_point Deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(Deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

bool SetNonBlocking(SOCKET Socket, bool NonBlocking) {
  u_long mode = NonBlocking ? 1 : 0;
  return ioctlsocket(Socket, FIONBIO, &mode) == 0;
}

// select() rather than WSAPoll: WSAPoll does not report a refused connect on
// older Windows versions. Negative TimeoutMs: no limit.
int SelectOne(SOCKET Socket, bool ForWrite, int TimeoutMs, bool* Failed = nullptr) {
  fd_set ready, failed;
  FD_ZERO(&ready);
  FD_ZERO(&failed);
  FD_SET(Socket, &ready);
  FD_SET(Socket, &failed);
  timeval wait{TimeoutMs / 1000, (TimeoutMs % 1000) * 1000};
  const int count = select(0, ForWrite ? nullptr : &ready, ForWrite ? &ready : nullptr, &failed,
                           TimeoutMs < 0 ? nullptr : &wait);
  if (Failed) *Failed = count > 0 && FD_ISSET(Socket, &failed);
  return count;
}

// Connects one socket to Address; INVALID_SOCKET with the error in Error otherwise.
SOCKET ConnectOne(const addrinfo& Address, int TimeoutMs, Clock::time_point Deadline, int& Error) {
  const SOCKET s = ::socket(Address.ai_family, SOCK_STREAM, IPPROTO_TCP);
  auto fail = [&](int err) {
    if (s != INVALID_SOCKET) closesocket(s);
    Error = err;
    return INVALID_SOCKET;
  };
  if (s == INVALID_SOCKET) return fail(WSAGetLastError());
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  if (!SetNonBlocking(s, true)) return fail(WSAGetLastError());
  if (::connect(s, Address.ai_addr, static_cast<int>(Address.ai_addrlen)) != 0) {
    if (WSAGetLastError() != WSAEWOULDBLOCK) return fail(WSAGetLastError());
    bool failed = false;
    const int ready = SelectOne(s, true, TimeoutMs > 0 ? MillisecondsUntil(Deadline) : -1, &failed);
    if (ready == 0) return fail(WSAETIMEDOUT);
    if (ready < 0) return fail(WSAGetLastError());
    int err = 0;
    int len = sizeof(err);
    if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) != 0)
      return fail(WSAGetLastError());
    if (err != 0) return fail(err);
    if (failed) return fail(WSAECONNREFUSED);
  }
  if (!SetNonBlocking(s, false)) return fail(WSAGetLastError());
  // Requests are small and answered one at a time: send each at once
  // (Modbus messaging on TCP/IP implementation guide, 4.3.1.1).
  const BOOL one = TRUE;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof(one));
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
  if (FHandle != InvalidNativeSocket) closesocket(static_cast<SOCKET>(FHandle));
  FHandle = InvalidNativeSocket;
}

TTcpSocket TTcpSocket::Connect(const std::string& Host, uint16_t Port, TIPVersion Version,
                               int TimeoutMs) {
  StartWinsock();
  addrinfo hints{};
  hints.ai_family = Version == TIPVersion::IPv6 ? AF_INET6 : AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* found = nullptr;
  const int resolved = getaddrinfo(Host.c_str(), std::to_string(Port).c_str(), &hints, &found);
  if (resolved != 0) throw std::system_error(resolved, ResolverCategory(), "getaddrinfo");

  const auto deadline = Clock::now() + std::chrono::milliseconds(TimeoutMs);
  int lastError = WSAEADDRNOTAVAIL;
  for (const addrinfo* ai = found; ai != nullptr; ai = ai->ai_next) {
    const SOCKET socket = ConnectOne(*ai, TimeoutMs, deadline, lastError);
    if (socket != INVALID_SOCKET) {
      freeaddrinfo(found);
      return TTcpSocket(static_cast<TNativeSocket>(socket));
    }
    if (TimeoutMs > 0 && Clock::now() >= deadline) break;
  }
  freeaddrinfo(found);
  ThrowOSError(lastError, "connect");
}

void TTcpSocket::SendAll(std::span<const uint8_t> Bytes) {
  std::size_t sent = 0;
  while (sent < Bytes.size()) {
    const int chunk = static_cast<int>(std::min<std::size_t>(Bytes.size() - sent, 1 << 30));
    const int n = ::send(static_cast<SOCKET>(FHandle),
                         reinterpret_cast<const char*>(Bytes.data() + sent), chunk, 0);
    if (n == SOCKET_ERROR) ThrowOSError(WSAGetLastError(), "send");
    sent += static_cast<std::size_t>(n);
  }
}

bool TTcpSocket::WaitReadable(int TimeoutMs) {
  const int ready = SelectOne(static_cast<SOCKET>(FHandle), false, TimeoutMs < 0 ? -1 : TimeoutMs);
  if (ready < 0) ThrowOSError(WSAGetLastError(), "select");
  return ready > 0;
}

TTcpSocket::TReceived TTcpSocket::ReceiveNow(std::span<uint8_t> Into) {
  // Blocking socket: take only what select() says has arrived (or the peer's close).
  if (!WaitReadable(0)) return {0, false};
  const int chunk = static_cast<int>(std::min<std::size_t>(Into.size(), 1 << 30));
  const int n =
      ::recv(static_cast<SOCKET>(FHandle), reinterpret_cast<char*>(Into.data()), chunk, 0);
  if (n > 0) return {static_cast<std::size_t>(n), false};
  if (n == 0) return {0, true};
  ThrowOSError(WSAGetLastError(), "recv");
}
