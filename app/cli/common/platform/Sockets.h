#pragma once
// The socket calls of the simulator's TCP front end and the wait of the command-line
// programs' loops, one implementation per system (platform/posix, platform/win32).
// Sockets made here never block.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "PollHandle.h"

struct TPollEntry {
  TPollHandle handle = NoPollHandle;
  bool wantRead = true;
  bool wantWrite = false;
  bool readable = false;  // input, the peer's close or an error: a read tells which
  bool writable = false;
};

// Starts the system's socket library once per process (Winsock); nothing on POSIX.
void StartSockets();

// Waits up to timeoutMs (negative: no limit) until an entry is ready and fills in
// readable and writable. False when a signal ended the wait early. Throws
// std::runtime_error "poll failed: <reason>".
bool PollHandles(std::span<TPollEntry> entries, int timeoutMs);

// A listening socket on host:port, a loopback address only ("localhost" is 127.0.0.1);
// port 0 picks a free one, reported in boundPort. Throws std::runtime_error:
// "not a loopback address: ...", "not an IP address: ...", "cannot listen on host:port: ...".
TPollHandle ListenOnLoopback(const std::string& host, std::uint16_t port, std::uint16_t& boundPort);

// Takes one waiting connection and names its peer "address:port" ("[v6]:port");
// NoPollHandle when none is waiting. A process out of handles takes the connection
// and closes it, rather than leaving it to wake every wait.
TPollHandle AcceptConnection(TPollHandle listener, std::string& peer);

// Bytes moved (0 from ReceiveSome: the peer closed), or one of these.
inline constexpr long TransferWouldBlock = -1;
inline constexpr long TransferFailed = -2;
long ReceiveSome(TPollHandle socket, std::uint8_t* data, std::size_t size);
// Never raises SIGPIPE.
long SendSome(TPollHandle socket, const std::uint8_t* data, std::size_t size);

void CloseSocket(TPollHandle socket) noexcept;
