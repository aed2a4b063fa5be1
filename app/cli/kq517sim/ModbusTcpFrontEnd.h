#pragma once
// A small Modbus TCP server: one listening socket on a loopback address, any
// number of clients up to a limit, everything driven by one wait (poll, or
// WSAPoll on Windows) on the calling thread. It cuts the byte stream into Modbus TCP frames (7-byte
// header, then the request PDU), hands each PDU to a handler and sends back what the handler
// answers under the request's header. Memory stays bounded: one frame of input per client, a capped
// backlog of unsent replies (a client that does not read its replies is not read from either), and
// a capped client count: a connection beyond it closes the one that has been idle longest.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/Sockets.h"

struct TTcpFrontEndSettings {
  std::string host = "127.0.0.1";  // a loopback address or "localhost"
  std::uint16_t port = 1502;       // 0 picks a free port (see Port())
  std::size_t maxClients = 256;    // a further connection closes the longest idle one
  std::chrono::milliseconds idleTimeout{300000};  // no complete request for this long: close
  // A frame begun but not finished for this long, while the client is read from: close.
  std::chrono::milliseconds frameTimeout{5000};
};

struct TTcpRequest {
  const std::string& peer;  // "address:port" of the client
  std::uint16_t transactionId;
  std::uint8_t unitId;
  std::span<const std::uint8_t> pdu;  // function code first
};

class TModbusTcpFrontEnd {
 public:
  // Writes the reply PDU into `reply` (room for MaxPduSize bytes) and returns
  // its size; 0 sends nothing.
  using TPduHandler = std::function<std::size_t(const TTcpRequest&, std::span<std::uint8_t> reply)>;

  // Largest frame: 7-byte header (unit id included) plus a 253-byte PDU.
  static constexpr std::size_t MaxFrameSize = 260;
  static constexpr std::size_t MaxPduSize = 253;
  // Unsent reply bytes above which a client is no longer read from.
  static constexpr std::size_t MaxPendingReplyBytes = 16384;

  TModbusTcpFrontEnd(TTcpFrontEndSettings settings, TPduHandler handler);
  ~TModbusTcpFrontEnd();
  TModbusTcpFrontEnd(const TModbusTcpFrontEnd&) = delete;
  TModbusTcpFrontEnd& operator=(const TModbusTcpFrontEnd&) = delete;

  // Binds and listens. Throws std::runtime_error with the reason (an address
  // that is not a loopback address, a port in use, ...).
  void Listen();
  std::uint16_t Port() const { return FPort; }
  std::string Address() const { return FSettings.host; }
  std::size_t ClientCount() const { return FClients.size(); }
  // Reply bytes accepted but not yet sent, over all clients.
  std::size_t PendingReplyBytes() const;

  // Waits at most timeoutMs for network activity or for one of `wakeFds` to
  // become readable, serves everything that is ready, and tells whether a
  // wake fd is readable (the caller reads it).
  bool ServeOnce(int timeoutMs, std::span<const TPollHandle> wakeFds = {});

 private:
  struct TClient;
  using TClock = std::chrono::steady_clock;

  void AcceptClients();
  bool CloseLongestIdleClient();
  void ReadFrom(TClient& client);
  void ProcessFrames(TClient& client);
  void FlushTo(TClient& client);
  void ExpireTimeouts(TClock::time_point now);
  int NextDeadlineMs(TClock::time_point now, int timeoutMs) const;
  void DropClosedClients();

  TTcpFrontEndSettings FSettings;
  TPduHandler FHandler;
  TPollHandle FListenFd = NoPollHandle;
  std::uint16_t FPort = 0;
  std::vector<std::unique_ptr<TClient>> FClients;
  std::vector<TPollEntry> FPollEntries;  // kept between calls: serving allocates nothing
};
