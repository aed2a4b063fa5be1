#pragma once
// A small blocking TCP client connection: connect within a time-out, send at
// once, and an input buffer that is filled by explicit waits for data. The
// operating system is reached only through TTcpSocket (platform/). It has no
// threads; one owner uses it at a time.

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "platform/TcpSocket.h"

// A failure of the TCP connection: connect, send, receive, or a request on a
// connection that is not open. The message names the host, the port and, where
// there is one, the operating system's reason; OSError() holds the operating
// system's error code (errno on POSIX; 0 when the failure did not come from
// the operating system; BrokenPeerError when the connection was dropped
// because the peer sent more than its owner could take).
class ETcpConnectionError : public std::runtime_error {
 public:
  ETcpConnectionError(const std::string& Message, int OSError = 0);
  int OSError() const noexcept { return FOSError; }

 private:
  int FOSError;
};

// OSError() of a connection dropped because the peer broke the protocol. The
// value is std::errc::protocol_error, which no Winsock code equals.
inline constexpr int BrokenPeerError = static_cast<int>(std::errc::protocol_error);

class TTcpClient {
 public:
  // The input buffer holds at most this many bytes: four of the largest Modbus
  // TCP frames (260 bytes). What the peer sends beyond it waits in the socket
  // until the owner takes bytes; a peer that fills it while more is waiting is
  // broken (see CheckForDataOnSource).
  static constexpr std::size_t InputBufferCapacity = 4 * 260;

  TTcpClient();
  virtual ~TTcpClient();
  TTcpClient(const TTcpClient&) = delete;
  TTcpClient& operator=(const TTcpClient&) = delete;

  // Connection settings; a change takes effect at the next Connect.
  const std::string& Host() const { return FHost; }
  void SetHost(const std::string& Value) { FHost = Value; }
  uint16_t Port() const { return FPort; }
  void SetPort(uint16_t Value) { FPort = Value; }
  // Milliseconds a connect may take; 0 leaves it to the operating system.
  int ConnectTimeout() const { return FConnectTimeout; }
  void SetConnectTimeout(int Value) { FConnectTimeout = Value; }
  TIPVersion IPVersion() const { return FIPVersion; }
  void SetIPVersion(TIPVersion Value) { FIPVersion = Value; }

  // Opens the connection to Host:Port (a host name or a numeric address).
  // Raises ETcpConnectionError when already connected, when the name does not
  // resolve, or when no address accepts the connection in time.
  virtual void Connect();
  // Closes the connection and drops whatever the input buffer holds.
  void Disconnect() noexcept;
  // True while the connection is open and the peer has not closed it. Looks
  // at the socket without waiting; a connection found closed is released.
  bool Connected();

  // Raises ETcpConnectionError when no connection is open or the peer has
  // closed it. Bytes already sent by the peer are moved into the input buffer.
  void CheckForGracefulDisconnect();
  // Sends all of Bytes at once; raises ETcpConnectionError on failure.
  void WriteDirect(std::span<const uint8_t> Bytes);
  // Waits up to TimeoutMs milliseconds for bytes from the socket and moves
  // what arrived into the input buffer, up to InputBufferCapacity; 0 looks
  // without waiting. Returns true when bytes were added. Raises
  // ETcpConnectionError when the peer closes the connection, when the socket
  // fails, and when the buffer is full while the peer has sent more (the
  // connection is then dropped as a broken peer).
  bool CheckForDataOnSource(int TimeoutMs);

  // Received bytes not yet taken.
  std::size_t InputBufferSize() const { return FInputBuffer.size() - FInputStart; }
  // Looks at the received bytes without taking them.
  std::span<const uint8_t> InputBuffer() const;
  // Removes Count bytes from the front of the input buffer and appends them
  // to Dest; Count must not exceed InputBufferSize().
  void ReadBytes(std::vector<uint8_t>& Dest, std::size_t Count);
  // Removes Count bytes from the front of the input buffer.
  void DiscardBytes(std::size_t Count);

 protected:
  // Closes the connection and raises ETcpConnectionError (BrokenPeerError):
  // "Connection to HOST:PORT dropped: the server " + What.
  [[noreturn]] void DropBrokenPeer(const std::string& What);

 private:
  void ReceiveAvailable();
  [[noreturn]] void ThrowClosedByPeer();
  [[noreturn]] void FailAndClose(const std::string& What, const std::system_error& Error);
  std::string Endpoint() const;

  std::string FHost;
  uint16_t FPort = 0;
  int FConnectTimeout = 0;
  TIPVersion FIPVersion = TIPVersion::IPv4;

  TTcpSocket FSocket;
  bool FPeerClosed = false;  // the peer ended its side; the socket stays until Disconnect
  // Received bytes live in FInputBuffer from FInputStart on; taking bytes
  // only moves FInputStart, and the next receive compacts the front.
  std::vector<uint8_t> FInputBuffer;
  std::size_t FInputStart = 0;
};
