#include "RtuOverTcpFrontEnd.h"

#include <algorithm>
#include <cstring>
#include <exception>

struct TRtuOverTcpFrontEnd::TClient {
  TPollHandle fd = NoPollHandle;
  std::string peer;
  std::vector<std::uint8_t> in;  // one raw frame, kept at the start by the framing's scan
  TFrameScan scan;
  std::vector<std::uint8_t> out;
  std::size_t outSent = 0;
  bool peerClosed = false;  // nothing more will arrive; close once the replies are out
  bool closed = false;
  TClock::time_point lastRequest;
  TClock::time_point frameStarted;
  TClock::time_point lastInput;

  std::size_t Pending() const { return out.size() - outSent; }
  bool InFrame() const { return scan.Collected > 0; }
};

TRtuOverTcpFrontEnd::TRtuOverTcpFrontEnd(TTcpFrontEndSettings settings, TTransmissionMode mode,
                                         TPduHandler handler)
    : FSettings(std::move(settings)),
      FFraming(mode, cmServer, true),
      FHandler(std::move(handler)),
      FQuery(FFraming.MaximumFrameSize()) {}

TRtuOverTcpFrontEnd::~TRtuOverTcpFrontEnd() {
  for (auto& c : FClients) CloseSocket(c->fd);
  CloseSocket(FListenFd);
}

void TRtuOverTcpFrontEnd::Listen() {
  FListenFd = ListenOnLoopback(FSettings.host, FSettings.port, FPort);
}

void TRtuOverTcpFrontEnd::AddWakeHandles(std::vector<TPollHandle>& handles) const {
  if (FListenFd != NoPollHandle) handles.push_back(FListenFd);
  for (const auto& c : FClients) {
    if (!c->peerClosed && c->Pending() < MaxPendingReplyBytes) handles.push_back(c->fd);
  }
}

int TRtuOverTcpFrontEnd::NextDeadlineMs() const {
  using std::chrono::duration_cast;
  using std::chrono::milliseconds;
  const TClock::time_point now = TClock::now();
  const auto gap = milliseconds(FFraming.CharacterGap(NetworkSilence.count()));
  auto next = milliseconds::max();
  for (const auto& c : FClients) {
    // Replies the client did not take yet: the other front end's wait does not see the
    // socket become writable, so it is asked again soon.
    if (c->Pending() > 0) next = std::min(next, milliseconds(5));
    next =
        std::min(next, duration_cast<milliseconds>(c->lastRequest + FSettings.idleTimeout - now));
    if (c->InFrame()) {
      next = std::min(next, duration_cast<milliseconds>(c->lastInput + gap - now));
      next = std::min(next,
                      duration_cast<milliseconds>(c->frameStarted + FSettings.frameTimeout - now));
    }
  }
  if (next == milliseconds::max()) return -1;
  // +1 so that the deadline has passed when the wait returns.
  return static_cast<int>(std::clamp<long long>(next.count() + 1, 0, 1 << 30));
}

void TRtuOverTcpFrontEnd::ServeOnce(int timeoutMs) {
  std::vector<TPollEntry>& fds = FPollEntries;
  fds.clear();
  if (FListenFd != NoPollHandle) fds.push_back({FListenFd});
  const std::size_t clientsAt = fds.size();
  for (const auto& c : FClients) {
    fds.push_back({c->fd, !c->peerClosed && c->Pending() < MaxPendingReplyBytes, c->Pending() > 0});
  }
  const int deadline = NextDeadlineMs();
  const int wait = deadline < 0    ? timeoutMs
                   : timeoutMs < 0 ? deadline
                                   : std::min(deadline, timeoutMs);
  if (!PollHandles(fds, wait)) return;

  // Clients first: new clients appended by AcceptClients have no poll entry yet.
  const std::size_t known = fds.size() - clientsAt;
  for (std::size_t i = 0; i < known; ++i) {
    TClient& c = *FClients[i];
    if (fds[clientsAt + i].readable) ReadFrom(c);
    if (!c.closed && fds[clientsAt + i].writable) FlushTo(c);
  }
  ExpireTimeouts(TClock::now());
  // Connections that ended in this wake-up leave before new ones are counted against the limit.
  DropClosedClients();
  if (FListenFd != NoPollHandle && fds.front().readable) AcceptClients();
}

void TRtuOverTcpFrontEnd::AcceptClients() {
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
    client->in.resize(static_cast<std::size_t>(FFraming.InterimBufferSize()));
    client->lastRequest = TClock::now();
    FClients.push_back(std::move(client));
  }
}

// At the limit the connection that has gone longest without a request makes room, so that
// idle connections cannot lock a polling client out until they time out.
bool TRtuOverTcpFrontEnd::CloseLongestIdleClient() {
  const auto idlest = std::min_element(
      FClients.begin(), FClients.end(),
      [](const auto& a, const auto& b) { return a->lastRequest < b->lastRequest; });
  if (idlest == FClients.end()) return false;
  CloseSocket((*idlest)->fd);
  FClients.erase(idlest);
  return true;
}

// Reads until a read leaves room in the buffer: the socket is then empty.
void TRtuOverTcpFrontEnd::ReadFrom(TClient& client) {
  while (!client.closed && !client.peerClosed && client.Pending() < MaxPendingReplyBytes) {
    const auto collected = static_cast<std::size_t>(client.scan.Collected);
    const std::size_t room = client.in.size() - collected;
    if (room == 0) {
      // Longer than any frame: taken as it is, which does not decode, and dropped.
      EndFrame(client);
      continue;
    }
    const long n = ReceiveSome(client.fd, client.in.data() + collected, room);
    if (n < 0) {
      if (n == TransferFailed) client.closed = true;
      break;
    }
    if (n == 0) {
      client.peerClosed = true;
      break;
    }
    const TClock::time_point now = TClock::now();
    if (!client.InFrame()) client.frameStarted = now;
    client.lastInput = now;
    FFraming.Scan(client.scan, client.in.data(), static_cast<int>(n));
    TakeFrames(client);
    if (static_cast<std::size_t>(n) < room) break;
  }
  if (!client.closed && client.Pending() > 0) FlushTo(client);
  if (client.peerClosed && client.Pending() == 0) client.closed = true;
}

void TRtuOverTcpFrontEnd::TakeFrames(TClient& client) {
  while (client.scan.Complete && !client.closed) EndFrame(client);
}

// The frame collected so far is complete, or has been ended by a pause: it is answered when it
// decodes, and what followed it in the stream begins the next one.
void TRtuOverTcpFrontEnd::EndFrame(TClient& client) {
  const bool complete = client.scan.Complete;
  const int size = client.scan.Collected;
  const int restAt = complete ? client.scan.RestAt : size;
  const int rest = complete ? client.scan.Rest : 0;
  Answer(client, size);
  std::memmove(client.in.data(), client.in.data() + restAt, static_cast<std::size_t>(rest));
  client.scan = TFrameScan{};
  client.frameStarted = TClock::now();
  if (rest > 0) FFraming.Scan(client.scan, client.in.data(), rest);
}

void TRtuOverTcpFrontEnd::Answer(TClient& client, int size) {
  try {
    if (size <= 0 || FFraming.Decode(client.in.data(), FQuery, size) != TDecodeResult::drOk) return;
  } catch (const std::exception&) {
    return;  // larger than any frame
  }
  client.lastRequest = TClock::now();
  const int header = FFraming.HeaderSize();
  const int pduSize = FQuery.Size() - header - FFraming.ErrorCheckSize();
  if (pduSize <= 0) return;
  const std::uint8_t address = FQuery.StartPtr()[0];
  const TRtuOverTcpRequest request{
      client.peer, address,
      std::span<const std::uint8_t>(FQuery.StartPtr() + header, static_cast<std::size_t>(pduSize))};
  const std::size_t replySize = std::min(FHandler(request, FReplyPdu), MaxPduSize);
  if (replySize == 0) return;

  FQuery.SetSize(0);
  FQuery.Seek(smBufStart);
  FQuery.PutByte(address);
  FQuery.PutBlock(FReplyPdu, static_cast<int>(replySize));
  FFraming.EmitErrorCheck(FQuery);
  const std::size_t at = client.out.size();
  const auto room = static_cast<std::size_t>(FFraming.InterimBufferSize());
  client.out.resize(at + room);
  const int framed = FFraming.Encode(FQuery, client.out.data() + at, static_cast<int>(room));
  client.out.resize(at + static_cast<std::size_t>(std::max(framed, 0)));
}

void TRtuOverTcpFrontEnd::FlushTo(TClient& client) {
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
  if (client.peerClosed) client.closed = true;
}

void TRtuOverTcpFrontEnd::ExpireTimeouts(TClock::time_point now) {
  const auto gap = std::chrono::milliseconds(FFraming.CharacterGap(NetworkSilence.count()));
  for (auto& c : FClients) {
    if (c->closed) continue;
    // A frame whose length its function does not tell ends at the pause.
    if (c->InFrame() && now - c->lastInput >= gap) {
      EndFrame(*c);
      if (c->Pending() > 0) FlushTo(*c);
    }
    if (c->InFrame() && now - c->frameStarted >= FSettings.frameTimeout) c->closed = true;
    if (now - c->lastRequest >= FSettings.idleTimeout) c->closed = true;
  }
}

void TRtuOverTcpFrontEnd::DropClosedClients() {
  std::erase_if(FClients, [](const std::unique_ptr<TClient>& c) {
    if (c->closed) CloseSocket(c->fd);
    return c->closed;
  });
}
