#pragma once
// Modbus RTU (or ASCII) frames over TCP, as a serial device server in its "TCP server" mode
// passes them between the network and its line: one listening socket on a loopback address,
// clients up to a limit, nothing that blocks. Each client's byte stream is cut into frames
// the way the serial library cuts a line's over TCP: an RTU frame ends at the length its
// function code tells, else at a pause of the network's silence; an ASCII frame at CR LF.
// A valid query is handed over as its address and PDU; the reply PDU goes back framed the
// same way, error check and all. Frames that do not decode are dropped, as on a bus.
//
// Memory and time stay bounded as on the Modbus TCP port (same settings): one frame of
// input per client, a capped backlog of unsent replies (a client that does not read its
// replies is not read from either), a capped client count where a newcomer closes the
// connection idle longest, and idle and unfinished-frame time-outs.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "ModbusFraming.h"
#include "ModbusTcpFrontEnd.h"
#include "platform/Sockets.h"

struct TRtuOverTcpRequest {
  const std::string& peer;            // "address:port" of the client
  std::uint8_t address;               // the slave addressed; 0 for a broadcast
  std::span<const std::uint8_t> pdu;  // function code first
};

class TRtuOverTcpFrontEnd {
 public:
  // Writes the reply PDU into `reply` (room for MaxPduSize bytes) and returns its size;
  // 0 sends nothing (another slave's query, a broadcast).
  using TPduHandler =
      std::function<std::size_t(const TRtuOverTcpRequest&, std::span<std::uint8_t> reply)>;

  static constexpr std::size_t MaxPduSize = 253;
  static constexpr std::size_t MaxPendingReplyBytes = 16384;
  // The pause that ends an RTU frame whose length its function code does not tell.
  static constexpr std::chrono::milliseconds NetworkSilence{50};

  TRtuOverTcpFrontEnd(TTcpFrontEndSettings settings, TTransmissionMode mode, TPduHandler handler);
  ~TRtuOverTcpFrontEnd();
  TRtuOverTcpFrontEnd(const TRtuOverTcpFrontEnd&) = delete;
  TRtuOverTcpFrontEnd& operator=(const TRtuOverTcpFrontEnd&) = delete;

  // Binds and listens. Throws std::runtime_error with the reason.
  void Listen();
  std::uint16_t Port() const { return FPort; }
  std::size_t ClientCount() const { return FClients.size(); }

  // For a wait that serves another front end too: the handles whose input this one
  // serves (appended to `handles`), and the longest that wait may last before a time-out
  // or an unsent reply needs this one (-1: no limit).
  void AddWakeHandles(std::vector<TPollHandle>& handles) const;
  int NextDeadlineMs() const;

  // Waits at most timeoutMs for network activity, serves everything that is ready and
  // every time-out that has passed.
  void ServeOnce(int timeoutMs);

 private:
  struct TClient;
  using TClock = std::chrono::steady_clock;

  void AcceptClients();
  bool CloseLongestIdleClient();
  void ReadFrom(TClient& client);
  void TakeFrames(TClient& client);
  void EndFrame(TClient& client);
  void Answer(TClient& client, int size);
  void FlushTo(TClient& client);
  void ExpireTimeouts(TClock::time_point now);
  void DropClosedClients();

  TTcpFrontEndSettings FSettings;
  TModbusFraming FFraming;
  TPduHandler FHandler;
  TPollHandle FListenFd = NoPollHandle;
  std::uint16_t FPort = 0;
  std::vector<std::unique_ptr<TClient>> FClients;
  std::vector<TPollEntry> FPollEntries;  // kept between calls: serving allocates nothing
  TModbusBuffer FQuery;                  // the query decoded, then the reply framed
  std::uint8_t FReplyPdu[MaxPduSize] = {};
};
