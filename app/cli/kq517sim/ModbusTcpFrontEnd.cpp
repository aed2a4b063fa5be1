#include "ModbusTcpFrontEnd.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>

#include "platform/Sockets.h"

namespace {

constexpr std::size_t HEADER_SIZE = 7;  // transaction id, protocol id, length, unit id
constexpr unsigned MIN_LENGTH = 2;      // unit id and function code
constexpr unsigned MAX_LENGTH = 254;    // unit id and a 253-byte PDU

unsigned WordAt(const std::uint8_t* p) {
  return static_cast<unsigned>(p[0] << 8 | p[1]);
}

}  // namespace

struct TModbusTcpFrontEnd::TClient {
  TPollHandle fd = NoPollHandle;
  std::string peer;
  std::array<std::uint8_t, MaxFrameSize> in{};
  std::size_t inUsed = 0;
  std::vector<std::uint8_t> out;
  std::size_t outSent = 0;
  // Nothing more is read (the peer closed its side, or sent what is not Modbus
  // TCP): close once the replies are out.
  bool readingEnded = false;
  bool closed = false;
  TClock::time_point lastRequest;
  TClock::time_point frameStarted;

  std::size_t Pending() const { return out.size() - outSent; }
  // Too many replies unsent: the client is not read from until it takes them.
  bool Throttled() const { return Pending() >= MaxPendingReplyBytes; }
};

TModbusTcpFrontEnd::TModbusTcpFrontEnd(TTcpFrontEndSettings settings, TPduHandler handler)
    : FSettings(std::move(settings)), FHandler(std::move(handler)) {}

TModbusTcpFrontEnd::~TModbusTcpFrontEnd() {
  for (auto& c : FClients) CloseSocket(c->fd);
  CloseSocket(FListenFd);
}

std::size_t TModbusTcpFrontEnd::PendingReplyBytes() const {
  std::size_t total = 0;
  for (const auto& c : FClients) total += c->Pending();
  return total;
}

void TModbusTcpFrontEnd::Listen() {
  FListenFd = ListenOnLoopback(FSettings.host, FSettings.port, FPort);
}

bool TModbusTcpFrontEnd::ServeOnce(int timeoutMs, std::span<const TPollHandle> wakeFds) {
  std::vector<TPollEntry>& fds = FPollEntries;
  fds.clear();
  for (TPollHandle fd : wakeFds) fds.push_back({fd});
  const std::size_t listenAt = fds.size();
  if (FListenFd != NoPollHandle) fds.push_back({FListenFd});
  const std::size_t clientsAt = fds.size();
  for (const auto& c : FClients) {
    fds.push_back({c->fd, !c->readingEnded && !c->Throttled(), c->Pending() > 0});
  }

  const int wait = NextDeadlineMs(TClock::now(), timeoutMs);
  if (!PollHandles(fds, wait)) return false;

  bool woken = false;
  for (std::size_t i = 0; i < wakeFds.size(); ++i) {
    if (fds[i].readable) woken = true;
  }
  // Clients first: new clients appended by AcceptClients have no poll entry yet.
  const std::size_t known = fds.size() - clientsAt;
  for (std::size_t i = 0; i < known; ++i) {
    TClient& c = *FClients[i];
    if (fds[clientsAt + i].readable) ReadFrom(c);
    if (!c.closed && fds[clientsAt + i].writable) FlushTo(c);
  }
  // Connections that ended in this wake-up leave before new ones are
  // counted against the limit.
  ExpireTimeouts(TClock::now());
  DropClosedClients();
  if (FListenFd != NoPollHandle && fds[listenAt].readable) AcceptClients();
  return woken;
}

void TModbusTcpFrontEnd::AcceptClients() {
  for (;;) {
    std::string peer;
    const TPollHandle fd = AcceptConnection(FListenFd, peer);
    if (fd == NoPollHandle) return;
    if (FClients.size() >= FSettings.maxClients && !CloseLongestIdleClient()) {
      CloseSocket(fd);
      continue;
    }
    auto client = std::make_unique<TClient>();
    client->fd = fd;
    client->peer = std::move(peer);
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
  CloseSocket((*idlest)->fd);
  FClients.erase(idlest);
  return true;
}

// Reads until a read leaves room in the buffer: the socket is then empty, and
// poll() tells when more comes, so no read is spent on learning that nothing is there.
void TModbusTcpFrontEnd::ReadFrom(TClient& client) {
  while (!client.closed && !client.readingEnded && !client.Throttled()) {
    const std::size_t room = client.in.size() - client.inUsed;
    if (room == 0) break;  // cannot happen: a full buffer always holds a whole frame
    const long n = ReceiveSome(client.fd, client.in.data() + client.inUsed, room);
    if (n < 0) {
      if (n == TransferFailed) client.closed = true;
      break;
    }
    if (n == 0) {
      client.readingEnded = true;
      break;
    }
    if (client.inUsed == 0) client.frameStarted = TClock::now();
    client.inUsed += static_cast<std::size_t>(n);
    ProcessFrames(client);
    if (static_cast<std::size_t>(n) < room) break;
  }
  if (!client.closed && client.Pending() > 0) FlushTo(client);
  if (client.readingEnded && client.Pending() == 0) client.closed = true;
}

void TModbusTcpFrontEnd::ProcessFrames(TClient& client) {
  std::size_t at = 0;
  while (!client.closed && client.inUsed - at >= HEADER_SIZE) {
    const std::uint8_t* header = client.in.data() + at;
    const unsigned protocol = WordAt(header + 2);
    const unsigned length = WordAt(header + 4);
    if (protocol != 0 || length < MIN_LENGTH || length > MAX_LENGTH) {
      // Not Modbus TCP: there is no way to find the next frame boundary. The
      // requests before it are still answered.
      client.readingEnded = true;
      client.inUsed = 0;
      return;
    }
    const std::size_t frameSize = 6 + length;
    if (client.inUsed - at < frameSize) break;
    const TTcpRequest request{client.peer, static_cast<std::uint16_t>(WordAt(header)), header[6],
                              std::span<const std::uint8_t>(header + HEADER_SIZE, length - 1)};
    // The reply is written in place behind its header; the buffer keeps its
    // capacity between requests.
    const std::size_t replyAt = client.out.size();
    client.out.resize(replyAt + HEADER_SIZE + MaxPduSize);
    const std::size_t replySize = std::min(
        FHandler(request,
                 std::span<std::uint8_t>(client.out.data() + replyAt + HEADER_SIZE, MaxPduSize)),
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
    const long n = SendSome(client.fd, client.out.data() + client.outSent, client.Pending());
    if (n < 0) {
      if (n == TransferFailed) client.closed = true;
      return;
    }
    client.outSent += static_cast<std::size_t>(n);
  }
  client.out.clear();
  client.outSent = 0;
  if (client.readingEnded) client.closed = true;
}

void TModbusTcpFrontEnd::ExpireTimeouts(TClock::time_point now) {
  for (auto& c : FClients) {
    // A frame's time runs only while the client is read from: back-pressure
    // from its own unread replies is not a frame left unfinished.
    if (c->Throttled()) c->frameStarted = now;
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
    if (c->inUsed > 0 && !c->Throttled()) {
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
    if (c->closed) CloseSocket(c->fd);
    return c->closed;
  });
}
