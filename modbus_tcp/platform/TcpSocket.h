#pragma once
// The operating system's side of a TCP client connection: resolve and connect
// within a time-out, send, wait for incoming bytes and take what has arrived.
// One implementation per operating system lives in platform/<os>/ and CMake
// builds the one for the target; this header includes no OS header, so the
// rest of the library never sees socket types or poll structures.
//
// Failures are std::system_error: name resolution failures carry a code of
// ResolverCategory(), everything else the operating system's own error code in
// std::system_category().

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <system_error>

#if defined(_WIN32)
using TNativeSocket = std::uintptr_t;  // a Winsock SOCKET
inline constexpr TNativeSocket InvalidNativeSocket = ~TNativeSocket{0};
#else
using TNativeSocket = int;  // a file descriptor
inline constexpr TNativeSocket InvalidNativeSocket = -1;
#endif

enum class TIPVersion { IPv4, IPv6 };

// The category of name resolution failures (the resolver's own codes).
const std::error_category& ResolverCategory();

class TTcpSocket {
 public:
  TTcpSocket() noexcept = default;
  ~TTcpSocket();
  TTcpSocket(TTcpSocket&& Other) noexcept;
  TTcpSocket& operator=(TTcpSocket&& Other) noexcept;
  TTcpSocket(const TTcpSocket&) = delete;
  TTcpSocket& operator=(const TTcpSocket&) = delete;

  // Resolves Host for the given IP version and connects to the first of its
  // addresses that accepts, all within TimeoutMs milliseconds (0 or less
  // leaves the time-out to the operating system). The socket sends small
  // writes at once (no Nagle delay).
  static TTcpSocket Connect(const std::string& Host, uint16_t Port, TIPVersion Version,
                            int TimeoutMs);

  bool IsOpen() const noexcept { return FHandle != InvalidNativeSocket; }
  TNativeSocket NativeHandle() const noexcept { return FHandle; }
  void Close() noexcept;

  // Sends all of Bytes; a closed peer is an error, never a signal.
  void SendAll(std::span<const uint8_t> Bytes);
  // Sleeps in the kernel until bytes (or the peer's close) can be read, for
  // at most TimeoutMs milliseconds (negative: no limit). False when the time
  // ran out or a signal ended the wait.
  bool WaitReadable(int TimeoutMs);

  struct TReceived {
    std::size_t Count = 0;  // bytes stored at the front of Into
    bool Closed = false;    // the peer ended its side of the connection
  };
  // Takes what has arrived, up to Into.size() bytes, without waiting.
  TReceived ReceiveNow(std::span<uint8_t> Into);

 private:
  explicit TTcpSocket(TNativeSocket Handle) noexcept : FHandle(Handle) {}

  TNativeSocket FHandle = InvalidNativeSocket;
};
