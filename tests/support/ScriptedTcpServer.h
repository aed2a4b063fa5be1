#pragma once
// A TCP server on the loopback interface whose every answer is scripted by the
// test: the test's handler sees each request and returns what to do with it
// (send bytes, pause, close or reset the connection, or nothing at all). It
// records every request it receives, so tests can check the bytes a client put
// on the wire, and it can misbehave in ways real servers will not do on
// request: split or late replies, wrong function codes, silence, a close in the
// middle of a request.
//
// It cuts the byte stream into requests by the Modbus TCP length field, or, as
// a serial device server does, at a short quiet on the line. It serves one
// connection at a time on its own thread: a second client either waits until
// the first has gone or replaces it. Every wait is bounded or ends when the
// server is destroyed.

#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class TScriptedTcpServer {
 public:
  using TFrame = std::vector<uint8_t>;

  struct TStep {
    enum class TKind { Send, Pause, Close, Reset };
    TKind Kind = TKind::Send;
    TFrame Bytes;
    std::chrono::milliseconds Delay{0};
  };
  using TScript = std::vector<TStep>;
  // Called on the server thread for every complete request.
  using THandler = std::function<TScript(const TFrame& Request)>;

  static TStep Send(TFrame Bytes) { return {TStep::TKind::Send, std::move(Bytes), {}}; }
  static TStep Pause(std::chrono::milliseconds Delay) { return {TStep::TKind::Pause, {}, Delay}; }
  static TStep Close() { return {TStep::TKind::Close, {}, {}}; }
  // Closes with a TCP reset instead of an orderly close.
  static TStep Reset() { return {TStep::TKind::Reset, {}, {}}; }

  enum class TFraming {
    ModbusTcp,  // a request is a header and as many bytes as its length field says
    QuietGap,   // a request is whatever arrives before 5 ms of quiet
  };
  enum class TNewClient { Waits, Replaces };
  struct TOptions {
    TFraming Framing = TFraming::ModbusTcp;
    TNewClient NewClient = TNewClient::Waits;
    int Family = AF_INET;  // AF_INET6 listens on ::1 (and throws where there is none)
    uint16_t Port = 0;     // 0: a free port the system picks
  };

  explicit TScriptedTcpServer(THandler Handler);
  TScriptedTcpServer(THandler Handler, TOptions Options);
  ~TScriptedTcpServer();
  TScriptedTcpServer(const TScriptedTcpServer&) = delete;
  TScriptedTcpServer& operator=(const TScriptedTcpServer&) = delete;

  uint16_t Port() const { return FPort; }
  // Every request received so far, in order.
  std::vector<TFrame> Requests() const;
  // Connections accepted so far.
  int ConnectionCount() const;
  // True while a client connection is open on the server side.
  bool ClientOpen() const;
  // Waits until Count requests have arrived; false when Timeout passes first.
  bool WaitForRequests(std::size_t Count, std::chrono::milliseconds Timeout) const;
  // Closes the current client connection and waits until it is closed.
  void DropClient();

  // Reply builders. Each copies the request's transaction identifier,
  // protocol identifier and unit identifier and sets the length field.
  static TFrame Reply(const TFrame& Request, const std::vector<uint8_t>& Pdu);
  static TFrame RegistersReply(const TFrame& Request, const std::vector<uint16_t>& Values);
  static TFrame CoilsReply(const TFrame& Request, const std::vector<bool>& Values);
  static TFrame ExceptionReply(const TFrame& Request, uint8_t ExceptionCode);
  // The usual answer to a write: function code, address and count or value.
  static TFrame WriteReply(const TFrame& Request);

  // A handler that answers every request at once with Reply.
  static THandler Always(std::function<TFrame(const TFrame&)> Reply);

 private:
  void Run();
  void Accept();
  void Receive();
  // Answers one request; false when the answer ended the connection or was cut short.
  bool Serve(const TFrame& Request);
  void CloseClient(bool WithReset = false);
  // Sleeps for Delay unless the server is woken first (to stop or drop the
  // client); false when woken.
  bool Sleep(std::chrono::milliseconds Delay);

  THandler FHandler;
  TOptions FOptions;
  int FListener = -1;
  int FWake = -1;  // an eventfd: stop, or drop the client
  uint16_t FPort = 0;
  int FClient = -1;  // the server thread's alone
  TFrame FInput;     // bytes of the client not yet served
  std::thread FThread;

  mutable std::mutex FLock;
  mutable std::condition_variable FChanged;
  std::vector<TFrame> FRequests;
  int FConnections = 0;
  bool FClientOpen = false;
  bool FStop = false;
  bool FDropRequested = false;
};

// A register bank answering function codes 1 to 6, 15 and 16 like a normal
// server: 65536 coils and 65536 registers; the same registers answer holding
// and input register reads, the same bits coil and discrete-input reads.
// Illegal counts get exception 3, other function codes exception 1.
class TModbusMemory {
 public:
  uint16_t Register(uint16_t Address) const;
  void SetRegister(uint16_t Address, uint16_t Value);
  bool Coil(uint16_t Address) const;
  void SetCoil(uint16_t Address, bool Value);

  TScriptedTcpServer::TFrame Answer(const TScriptedTcpServer::TFrame& Request);
  // A handler serving this bank; the bank must outlive the server.
  TScriptedTcpServer::THandler Handler();

 private:
  mutable std::mutex FLock;
  std::vector<uint16_t> FRegisters = std::vector<uint16_t>(65536, 0);
  std::vector<bool> FCoils = std::vector<bool>(65536, false);
};
