#include "../Sockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace {

std::string SystemMessage(const std::string& what, int error) {
  return what + ": " + std::strerror(error);
}

// A parsed bind address, IPv4 or IPv6, restricted to loopback.
struct TBindAddress {
  sockaddr_storage storage{};
  socklen_t length = 0;
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
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(&peer);
    inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(v4->sin_port));
  }
  const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&peer);
  inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
  return "[" + std::string(text) + "]:" + std::to_string(ntohs(v6->sin6_port));
}

// Released to accept-and-close when the process runs out of descriptors.
int gSpareFd = -1;

}  // namespace

void StartSockets() {}

bool PollHandles(std::span<TPollEntry> entries, int timeoutMs) {
  // Kept between calls, so that a server's every wake-up allocates nothing.
  thread_local std::vector<pollfd> fds;
  fds.clear();
  for (const TPollEntry& e : entries) {
    const short events =
        static_cast<short>((e.wantRead ? POLLIN : 0) | (e.wantWrite ? POLLOUT : 0));
    fds.push_back({e.handle, events, 0});
  }
  const int ready = ::poll(fds.data(), fds.size(), timeoutMs < 0 ? -1 : timeoutMs);
  if (ready < 0) {
    if (errno == EINTR) return false;
    throw std::runtime_error(SystemMessage("poll failed", errno));
  }
  for (std::size_t i = 0; i < entries.size(); ++i) {
    entries[i].readable = (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
    entries[i].writable = (fds[i].revents & POLLOUT) != 0;
  }
  return true;
}

TPollHandle ListenOnLoopback(const std::string& host, std::uint16_t port,
                             std::uint16_t& boundPort) {
  const TBindAddress address = LoopbackAddress(host, port);
  const int fd = ::socket(address.storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error(SystemMessage("cannot create a TCP socket", errno));
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  const std::string where = host + ":" + std::to_string(port);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address.storage), address.length) != 0 ||
      ::listen(fd, 128) != 0) {
    const int error = errno;
    ::close(fd);
    throw std::runtime_error(SystemMessage("cannot listen on " + where, error));
  }
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
  boundPort = bound.ss_family == AF_INET
                  ? ntohs(reinterpret_cast<const sockaddr_in*>(&bound)->sin_port)
                  : ntohs(reinterpret_cast<const sockaddr_in6*>(&bound)->sin6_port);
  if (gSpareFd < 0) gSpareFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  return fd;
}

TPollHandle AcceptConnection(TPollHandle listener, std::string& peer) {
  for (;;) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    const int fd = ::accept4(listener, reinterpret_cast<sockaddr*>(&address), &length,
                             SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd >= 0) {
      peer = PeerText(address);
      return fd;
    }
    if ((errno == EMFILE || errno == ENFILE) && gSpareFd >= 0) {
      // Out of descriptors: use the spare one to take the connection off the
      // backlog and close it, rather than spinning on a readable listener.
      ::close(gSpareFd);
      const int dropped = ::accept(listener, nullptr, nullptr);
      if (dropped >= 0) ::close(dropped);
      gSpareFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
      continue;
    }
    return NoPollHandle;  // EAGAIN, or a connection that vanished before we took it
  }
}

long ReceiveSome(TPollHandle socket, std::uint8_t* data, std::size_t size) {
  for (;;) {
    const ssize_t n = ::recv(socket, data, size, 0);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK ? TransferWouldBlock : TransferFailed;
  }
}

long SendSome(TPollHandle socket, const std::uint8_t* data, std::size_t size) {
  for (;;) {
    const ssize_t n = ::send(socket, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK ? TransferWouldBlock : TransferFailed;
  }
}

void CloseSocket(TPollHandle socket) noexcept {
  if (socket >= 0) ::close(socket);
}
