// A connected TCP socket that never blocks, with the system's calls kept in the
// implementations (platform/posix/, platform/win32/). It moves bytes and waits; what a
// closed or failed connection means is TTcpStream's business.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <system_error>

#include "LineDevice.h"

class TOsEvent;

class TStreamSocket {
 public:
  TStreamSocket();
  ~TStreamSocket();
  TStreamSocket(const TStreamSocket&) = delete;
  TStreamSocket& operator=(const TStreamSocket&) = delete;

  // Connects to Host (a name, an IPv4 or an IPv6 address) and Port, trying every address
  // the name resolves to within TimeoutMs in all (0: as long as the system tries). Raises
  // std::system_error with What in front of the reason.
  void Connect(const std::string& Host, std::uint16_t Port, std::uint32_t TimeoutMs,
               const std::string& What);
  void Close() noexcept;
  bool IsConnected() const { return FHandle.load() != NoSocket; }

  // Bytes moved, or one of these; a failure leaves its code in Error. Receive returns 0
  // when the other end has closed the connection.
  static constexpr long WouldBlock = -1;
  static constexpr long Failed = -2;
  long Receive(std::uint8_t* Data, std::size_t Count, std::error_code& Error);
  // Looks at the next byte without taking it: 1, 0 (closed), WouldBlock or Failed.
  long Peek(std::error_code& Error);
  // Never raises SIGPIPE.
  long Send(const std::uint8_t* Data, std::size_t Count, std::error_code& Error);

  // Waits until the socket can be read (input, the other end's close or a failure), or
  // written with ForWrite, until Break is set or the time-out passes
  // (TOsEvent::InfiniteTimeout: no limit). Break may be null. Raises std::system_error
  // with What when the wait itself fails.
  TWaitResult Wait(TOsEvent* Break, std::uint32_t TimeoutMs, bool ForWrite,
                   const std::string& What);

 private:
  // A descriptor on POSIX, a SOCKET on Windows; read from any thread (Purge).
  using THandle = std::intptr_t;
  static constexpr THandle NoSocket = -1;
  std::atomic<THandle> FHandle{NoSocket};
  // What an implementation keeps beside the socket (Windows: its network event).
  struct TPlatformState;
  TPlatformState* FState = nullptr;
};
