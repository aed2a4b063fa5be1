#include "../Sockets.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace {

std::string SystemMessage(const std::string& what, int error) {
  return what + ": " + std::system_category().message(error);
}

struct TBindAddress {
  sockaddr_storage storage{};
  int length = 0;
};

TBindAddress LoopbackAddress(const std::string& host, std::uint16_t port) {
  TBindAddress a;
  const std::string text = host == "localhost" ? "127.0.0.1" : host;
  sockaddr_in v4{};
  sockaddr_in6 v6{};
  if (inet_pton(AF_INET, text.c_str(), &v4.sin_addr) == 1) {
    if ((ntohl(v4.sin_addr.s_addr) >> 24) != 127) {
      throw std::runtime_error("not a loopback address: " + host +
                               " (the simulator listens on 127.0.0.0/8 or ::1 only)");
    }
    v4.sin_family = AF_INET;
    v4.sin_port = htons(port);
    std::memcpy(&a.storage, &v4, sizeof v4);
    a.length = sizeof v4;
  } else if (inet_pton(AF_INET6, text.c_str(), &v6.sin6_addr) == 1) {
    if (!IN6_IS_ADDR_LOOPBACK(&v6.sin6_addr)) {
      throw std::runtime_error("not a loopback address: " + host +
                               " (the simulator listens on 127.0.0.0/8 or ::1 only)");
    }
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(port);
    std::memcpy(&a.storage, &v6, sizeof v6);
    a.length = sizeof v6;
  } else {
    throw std::runtime_error("not an IP address: " + host);
  }
  return a;
}

std::string PeerText(const sockaddr_storage& peer) {
  char text[INET6_ADDRSTRLEN] = "?";
  if (peer.ss_family == AF_INET) {
    auto v4 = *reinterpret_cast<const sockaddr_in*>(&peer);
    inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(v4.sin_port));
  }
  auto v6 = *reinterpret_cast<const sockaddr_in6*>(&peer);
  inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
  return "[" + std::string(text) + "]:" + std::to_string(ntohs(v6.sin6_port));
}

bool MakeNonBlocking(SOCKET s) {
  u_long on = 1;
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  return ioctlsocket(s, FIONBIO, &on) == 0;
}

}  // namespace

void StartSockets() {
  static const int error = [] {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 2), &data);
  }();
  if (error != 0) throw std::system_error(error, std::system_category(), "WSAStartup");
}

bool PollHandles(std::span<TPollEntry> entries, int timeoutMs) {
  std::vector<WSAPOLLFD> fds;
  fds.reserve(entries.size());
  for (const TPollEntry& e : entries) {
    const SHORT events =
        static_cast<SHORT>((e.wantRead ? POLLRDNORM : 0) | (e.wantWrite ? POLLWRNORM : 0));
    fds.push_back({static_cast<SOCKET>(e.handle), events, 0});
  }
  const int ready =
      WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), timeoutMs < 0 ? -1 : timeoutMs);
  if (ready == SOCKET_ERROR)
    throw std::runtime_error(SystemMessage("poll failed", WSAGetLastError()));
  for (std::size_t i = 0; i < entries.size(); ++i) {
    entries[i].readable = (fds[i].revents & (POLLRDNORM | POLLHUP | POLLERR)) != 0;
    entries[i].writable = (fds[i].revents & POLLWRNORM) != 0;
  }
  return true;
}

TPollHandle ListenOnLoopback(const std::string& host, std::uint16_t port,
                             std::uint16_t& boundPort) {
  StartSockets();
  const TBindAddress address = LoopbackAddress(host, port);
  const SOCKET s = ::socket(address.storage.ss_family, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET)
    throw std::runtime_error(SystemMessage("cannot create a TCP socket", WSAGetLastError()));
  // Windows lets a second program bind a port in use unless told otherwise.
  const BOOL on = TRUE;
  ::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
  const std::string where = host + ":" + std::to_string(port);
  if (!MakeNonBlocking(s) ||
      ::bind(s, reinterpret_cast<const sockaddr*>(&address.storage), address.length) != 0 ||
      ::listen(s, 128) != 0) {
    const int error = WSAGetLastError();
    closesocket(s);
    throw std::runtime_error(SystemMessage("cannot listen on " + where, error));
  }
  sockaddr_storage bound{};
  int length = sizeof bound;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&bound), &length);
  boundPort = bound.ss_family == AF_INET
                  ? ntohs(reinterpret_cast<const sockaddr_in*>(&bound)->sin_port)
                  : ntohs(reinterpret_cast<const sockaddr_in6*>(&bound)->sin6_port);
  return static_cast<TPollHandle>(s);
}

TPollHandle AcceptConnection(TPollHandle listener, std::string& peer) {
  sockaddr_storage address{};
  int length = sizeof address;
  const SOCKET s =
      ::accept(static_cast<SOCKET>(listener), reinterpret_cast<sockaddr*>(&address), &length);
  if (s == INVALID_SOCKET) return NoPollHandle;
  if (!MakeNonBlocking(s)) {
    closesocket(s);
    return NoPollHandle;
  }
  peer = PeerText(address);
  return static_cast<TPollHandle>(s);
}

long ReceiveSome(TPollHandle socket, std::uint8_t* data, std::size_t size) {
  const int chunk = static_cast<int>(size < (1u << 30) ? size : (1u << 30));
  const int n = ::recv(static_cast<SOCKET>(socket), reinterpret_cast<char*>(data), chunk, 0);
  if (n >= 0) return n;
  return WSAGetLastError() == WSAEWOULDBLOCK ? TransferWouldBlock : TransferFailed;
}

long SendSome(TPollHandle socket, const std::uint8_t* data, std::size_t size) {
  const int chunk = static_cast<int>(size < (1u << 30) ? size : (1u << 30));
  const int n = ::send(static_cast<SOCKET>(socket), reinterpret_cast<const char*>(data), chunk, 0);
  if (n >= 0) return n;
  return WSAGetLastError() == WSAEWOULDBLOCK ? TransferWouldBlock : TransferFailed;
}

void CloseSocket(TPollHandle socket) noexcept {
  if (socket != NoPollHandle) closesocket(static_cast<SOCKET>(socket));
}
