#include "ModbusTcpFrontEnd.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>

namespace {

constexpr std::size_t HEADER_SIZE = 7;  // transaction id, protocol id, length, unit id
constexpr unsigned MIN_LENGTH = 2;      // unit id and function code
constexpr unsigned MAX_LENGTH = 254;    // unit id and a 253-byte PDU

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
  unsigned port = 0;
  if (peer.ss_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(&peer);
    inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
    port = ntohs(v4->sin_port);
    return std::string(text) + ":" + std::to_string(port);
  }
  const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&peer);
  inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
  port = ntohs(v6->sin6_port);
  return "[" + std::string(text) + "]:" + std::to_string(port);
}

unsigned WordAt(const std::uint8_t* p) { return static_cast<unsigned>(p[0] << 8 | p[1]); }

}  // namespace

struct TModbusTcpFrontEnd::TClient {
  int fd = -1;
  std::string peer;
  std::array<std::uint8_t, MaxFrameSize> in{};
  std::size_t inUsed = 0;
  std::vector<std::uint8_t> out;
  std::size_t outSent = 0;
  bool peerClosed = false;  // nothing more will arrive; close once the replies are out
  bool closed = false;
  TClock::time_point lastRequest;
  TClock::time_point frameStarted;

  std::size_t Pending() const { return out.size() - outSent; }
};

TModbusTcpFrontEnd::TModbusTcpFrontEnd(TTcpFrontEndSettings settings, TPduHandler handler)
    : FSettings(std::move(settings)), FHandler(std::move(handler)) {}

TModbusTcpFrontEnd::~TModbusTcpFrontEnd() {
  for (auto& c : FClients) ::close(c->fd);
  if (FListenFd >= 0) ::close(FListenFd);
  if (FSpareFd >= 0) ::close(FSpareFd);
}

std::size_t TModbusTcpFrontEnd::PendingReplyBytes() const {
  std::size_t total = 0;
  for (const auto& c : FClients) total += c->Pending();
  return total;
}

void TModbusTcpFrontEnd::Listen() {
  const TBindAddress address = LoopbackAddress(FSettings.host, FSettings.port);
  const int fd = ::socket(address.storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error(SystemMessage("cannot create a TCP socket", errno));
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  const std::string where = FSettings.host + ":" + std::to_string(FSettings.port);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address.storage), address.length) != 0) {
    const int error = errno;
    ::close(fd);
    throw std::runtime_error(SystemMessage("cannot listen on " + where, error));
  }
  if (::listen(fd, 128) != 0) {
    const int error = errno;
    ::close(fd);
    throw std::runtime_error(SystemMessage("cannot listen on " + where, error));
  }
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
  FPort = bound.ss_family == AF_INET
              ? ntohs(reinterpret_cast<const sockaddr_in*>(&bound)->sin_port)
              : ntohs(reinterpret_cast<const sockaddr_in6*>(&bound)->sin6_port);
  FListenFd = fd;
  FSpareFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

bool TModbusTcpFrontEnd::ServeOnce(int timeoutMs, std::span<const int> wakeFds) {
  std::vector<pollfd>& fds = FPollFds;
  fds.clear();
  for (int fd : wakeFds) fds.push_back({fd, POLLIN, 0});
  const std::size_t listenAt = fds.size();
  if (FListenFd >= 0) fds.push_back({FListenFd, POLLIN, 0});
  const std::size_t clientsAt = fds.size();
  for (const auto& c : FClients) {
    short events = 0;
    if (!c->peerClosed && c->Pending() < MaxPendingReplyBytes) events |= POLLIN;
    if (c->Pending() > 0) events |= POLLOUT;
    fds.push_back({c->fd, events, 0});
  }

  const int wait = NextDeadlineMs(TClock::now(), timeoutMs);
  const int ready = ::poll(fds.data(), fds.size(), wait);
  if (ready < 0) {
    if (errno == EINTR) return false;
    throw std::runtime_error(SystemMessage("poll failed", errno));
  }

  bool woken = false;
  for (std::size_t i = 0; i < wakeFds.size(); ++i) {
    if (fds[i].revents != 0) woken = true;
  }
  // Clients first: new clients appended by AcceptClients have no poll entry yet.
  const std::size_t known = fds.size() - clientsAt;
  for (std::size_t i = 0; i < known; ++i) {
    TClient& c = *FClients[i];
    const short revents = fds[clientsAt + i].revents;
    if (revents & (POLLIN | POLLHUP | POLLERR)) ReadFrom(c);
    if (!c.closed && (revents & POLLOUT)) FlushTo(c);
  }
  // Connections that ended in this wake-up leave before new ones are
  // counted against the limit.
  ExpireTimeouts(TClock::now());
  DropClosedClients();
  if (FListenFd >= 0 && fds[listenAt].revents != 0) AcceptClients();
  return woken;
}

void TModbusTcpFrontEnd::AcceptClients() {
  for (;;) {
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    const int fd = ::accept4(FListenFd, reinterpret_cast<sockaddr*>(&peer), &length,
                             SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if ((errno == EMFILE || errno == ENFILE) && FSpareFd >= 0) {
        // Out of descriptors: use the spare one to take the connection off the
        // backlog and close it, rather than spinning on a readable listener.
        ::close(FSpareFd);
        const int dropped = ::accept(FListenFd, nullptr, nullptr);
        if (dropped >= 0) ::close(dropped);
        FSpareFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        continue;
      }
      return;  // EAGAIN, or a connection that vanished before we took it
    }
    if (FClients.size() >= FSettings.maxClients && !CloseLongestIdleClient()) {
      ::close(fd);
      continue;
    }
    auto client = std::make_unique<TClient>();
    client->fd = fd;
    client->peer = PeerText(peer);
    client->lastRequest = TClock::now();
    FClients.push_back(std::move(client));
  }
}

// At the limit the connection that has gone longest without a request makes
// room, so that idle connections cannot lock a polling client out until they
// time out.
bool TModbusTcpFrontEnd::CloseLongestIdleClient() {
  const auto idlest = std::min_element(
      FClients.begin(), FClients.end(),
      [](const auto& a, const auto& b) { return a->lastRequest < b->lastRequest; });
  if (idlest == FClients.end()) return false;
  ::close((*idlest)->fd);
  FClients.erase(idlest);
  return true;
}

// Reads until a read leaves room in the buffer: the socket is then empty, and
// poll() tells when more comes, so no read is spent on learning that nothing is there.
void TModbusTcpFrontEnd::ReadFrom(TClient& client) {
  while (!client.closed && !client.peerClosed && client.Pending() < MaxPendingReplyBytes) {
    const std::size_t room = client.in.size() - client.inUsed;
    if (room == 0) break;  // cannot happen: a full buffer always holds a whole frame
    const ssize_t n = ::recv(client.fd, client.in.data() + client.inUsed, room, MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) client.closed = true;
      break;
    }
    if (n == 0) {
      client.peerClosed = true;
      break;
    }
    if (client.inUsed == 0) client.frameStarted = TClock::now();
    client.inUsed += static_cast<std::size_t>(n);
    ProcessFrames(client);
    if (static_cast<std::size_t>(n) < room) break;
  }
  if (!client.closed && client.Pending() > 0) FlushTo(client);
  if (client.peerClosed && client.Pending() == 0) client.closed = true;
}

void TModbusTcpFrontEnd::ProcessFrames(TClient& client) {
  std::size_t at = 0;
  while (!client.closed && client.inUsed - at >= HEADER_SIZE) {
    const std::uint8_t* header = client.in.data() + at;
    const unsigned protocol = WordAt(header + 2);
    const unsigned length = WordAt(header + 4);
    if (protocol != 0 || length < MIN_LENGTH || length > MAX_LENGTH) {
      // Not Modbus TCP: there is no way to find the next frame boundary.
      client.closed = true;
      return;
    }
    const std::size_t frameSize = 6 + length;
    if (client.inUsed - at < frameSize) break;
    const TTcpRequest request{client.peer, static_cast<std::uint16_t>(WordAt(header)),
                              header[6],
                              std::span<const std::uint8_t>(header + HEADER_SIZE, length - 1)};
    // The reply is written in place behind its header; the buffer keeps its
    // capacity between requests.
    const std::size_t replyAt = client.out.size();
    client.out.resize(replyAt + HEADER_SIZE + MaxPduSize);
    const std::size_t replySize =
        std::min(FHandler(request, std::span<std::uint8_t>(client.out.data() + replyAt + HEADER_SIZE, MaxPduSize)),
                 MaxPduSize);
    if (replySize > 0) {
      const std::size_t replyLength = replySize + 1;
      std::uint8_t* replyHeader = client.out.data() + replyAt;
      replyHeader[0] = header[0];
      replyHeader[1] = header[1];
      replyHeader[2] = replyHeader[3] = 0;
      replyHeader[4] = static_cast<std::uint8_t>(replyLength >> 8);
      replyHeader[5] = static_cast<std::uint8_t>(replyLength & 0xFF);
      replyHeader[6] = header[6];
    }
    client.out.resize(replySize > 0 ? replyAt + HEADER_SIZE + replySize : replyAt);
    client.lastRequest = TClock::now();
    at += frameSize;
  }
  if (at > 0) {
    std::memmove(client.in.data(), client.in.data() + at, client.inUsed - at);
    client.inUsed -= at;
    client.frameStarted = TClock::now();
  }
}

void TModbusTcpFrontEnd::FlushTo(TClient& client) {
  while (client.Pending() > 0) {
    const ssize_t n = ::send(client.fd, client.out.data() + client.outSent, client.Pending(),
                             MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) client.closed = true;
      return;
    }
    client.outSent += static_cast<std::size_t>(n);
  }
  client.out.clear();
  client.outSent = 0;
  if (client.peerClosed) client.closed = true;
}

void TModbusTcpFrontEnd::ExpireTimeouts(TClock::time_point now) {
  for (auto& c : FClients) {
    if (c->inUsed > 0 && now - c->frameStarted >= FSettings.frameTimeout) c->closed = true;
    if (now - c->lastRequest >= FSettings.idleTimeout) c->closed = true;
  }
}

int TModbusTcpFrontEnd::NextDeadlineMs(TClock::time_point now, int timeoutMs) const {
  using std::chrono::duration_cast;
  using std::chrono::milliseconds;
  auto next = timeoutMs < 0 ? milliseconds::max() : milliseconds(timeoutMs);
  for (const auto& c : FClients) {
    auto idleLeft = duration_cast<milliseconds>(c->lastRequest + FSettings.idleTimeout - now);
    next = std::min(next, idleLeft);
    if (c->inUsed > 0) {
      next = std::min(next,
                      duration_cast<milliseconds>(c->frameStarted + FSettings.frameTimeout - now));
    }
  }
  if (next == milliseconds::max()) return -1;
  // +1 so that the deadline has passed when poll returns.
  return static_cast<int>(std::clamp<long long>(next.count() + 1, 0, 1 << 30));
}

void TModbusTcpFrontEnd::DropClosedClients() {
  std::erase_if(FClients, [](const std::unique_ptr<TClient>& c) {
    if (c->closed) ::close(c->fd);
    return c->closed;
  });
}
