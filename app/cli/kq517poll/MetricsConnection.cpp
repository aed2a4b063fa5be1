#include "MetricsConnection.h"

#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cstdlib>

#include "platform/Sockets.h"

namespace {

using TClock = std::chrono::steady_clock;

int MillisecondsUntil(TClock::time_point Deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(Deadline - TClock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, 1 << 30));
}

enum class TWait { Ready, TimedOut, Stopped };

// Waits until Socket can be read (or written) before Deadline.
TWait WaitFor(TPollHandle Socket, TPollHandle Stop, bool Write, TClock::time_point Deadline) {
  for (;;) {
    const int left = MillisecondsUntil(Deadline);
    TPollEntry entries[2] = {{Stop}, {Socket, !Write, Write}};
    // A signal that ends the wait early only makes it look again.
    if (!PollHandles(entries, left)) continue;
    if (entries[0].readable) return TWait::Stopped;
    if (entries[1].readable || entries[1].writable) return TWait::Ready;
    if (left == 0) return TWait::TimedOut;
  }
}

// Where the head in Text ends (after its empty line), searching from From;
// 0 while it has not ended. A line may end in LF alone.
std::size_t HeadEnd(std::string_view Text, std::size_t From) {
  for (std::size_t at = Text.find('\n', From); at != std::string_view::npos;
       at = Text.find('\n', at + 1)) {
    if (at + 1 < Text.size() && Text[at + 1] == '\n') return at + 2;
    if (at + 2 < Text.size() && Text[at + 1] == '\r' && Text[at + 2] == '\n') return at + 3;
  }
  return 0;
}

void AddressOf(int (*Name)(int, sockaddr*, socklen_t*), TPollHandle Socket, std::string& Ip,
               int& Port) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  std::array<char, NI_MAXHOST> host{};
  std::array<char, NI_MAXSERV> service{};
  if (Name(Socket, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      getnameinfo(reinterpret_cast<sockaddr*>(&address), length, host.data(), host.size(),
                  service.data(), service.size(), NI_NUMERICHOST | NI_NUMERICSERV) != 0)
    return;
  Ip = host.data();
  Port = std::atoi(service.data());
}

}  // namespace

THeadOutcome ReadRequestHead(TPollHandle Socket, TPollHandle Stop, const TRequestLimits& Limits,
                             std::string& Head) {
  const auto deadline = TClock::now() + Limits.HeadDeadline;
  Head.clear();
  std::array<std::uint8_t, 4096> chunk{};
  for (;;) {
    if (WaitFor(Socket, Stop, false, deadline) != TWait::Ready) return THeadOutcome::hoAbandoned;
    // Never more than one byte past the limit: enough to know it is exceeded.
    const std::size_t wanted = std::min(chunk.size(), Limits.MaxHeadBytes + 1 - Head.size());
    const long n = ReceiveSome(Socket, chunk.data(), wanted);
    if (n == TransferWouldBlock) continue;
    if (n <= 0) return THeadOutcome::hoAbandoned;
    // An empty line may straddle two reads: look again from just before the new bytes.
    const std::size_t from = Head.size() < 2 ? 0 : Head.size() - 2;
    Head.append(reinterpret_cast<const char*>(chunk.data()), static_cast<std::size_t>(n));
    const std::size_t end = HeadEnd(Head, from);
    // What follows the head (a body, a second request) is never served.
    if (end > 0) Head.resize(end);
    // The request line and the empty line are not fields.
    const auto lines = static_cast<std::size_t>(std::count(Head.begin(), Head.end(), '\n'));
    if (lines > Limits.MaxHeaderFields + 2 || Head.size() > Limits.MaxHeadBytes)
      return THeadOutcome::hoTooLarge;
    if (end > 0) return THeadOutcome::hoComplete;
  }
}

bool WriteAll(TPollHandle Socket, TPollHandle Stop, std::string_view Bytes,
              TClock::time_point Deadline) {
  while (!Bytes.empty()) {
    const long n =
        SendSome(Socket, reinterpret_cast<const std::uint8_t*>(Bytes.data()), Bytes.size());
    if (n == TransferFailed) return false;
    if (n > 0) {
      Bytes.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (WaitFor(Socket, Stop, true, Deadline) != TWait::Ready) return false;
  }
  return true;
}

bool WriteStatusOnly(TPollHandle Socket, TPollHandle Stop, int Status, const char* Reason,
                     TClock::time_point Deadline) {
  const std::string answer = "HTTP/1.1 " + std::to_string(Status) + " " + Reason +
                             "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
  return WriteAll(Socket, Stop, answer, Deadline);
}

void CloseGracefully(TPollHandle Socket, TPollHandle Stop) {
  // Closing with unread input would reset the connection, and a reset can
  // destroy the answer before the client has read it.
  constexpr std::size_t MaxDrained = 64 * 1024;
  constexpr std::chrono::milliseconds MaxLinger{500};
  ::shutdown(Socket, SHUT_WR);
  const auto deadline = TClock::now() + MaxLinger;
  std::array<std::uint8_t, 4096> scratch{};
  for (std::size_t drained = 0; drained < MaxDrained;) {
    if (WaitFor(Socket, Stop, false, deadline) != TWait::Ready) break;
    const long n = ReceiveSome(Socket, scratch.data(), scratch.size());
    if (n == TransferWouldBlock) continue;
    if (n <= 0) break;
    drained += static_cast<std::size_t>(n);
  }
  CloseSocket(Socket);
}

THeadStream::THeadStream(TPollHandle Socket, TPollHandle Stop, std::string_view Head,
                         TClock::time_point AnswerDeadline)
    : FSocket(Socket), FStop(Stop), FHead(Head), FDeadline(AnswerDeadline) {}

bool THeadStream::is_readable() const {
  return FRead < FHead.size();
}

bool THeadStream::is_writable() const {
  return TClock::now() < FDeadline;
}

ssize_t THeadStream::read(char* Ptr, size_t Size) {
  const std::size_t count = std::min(Size, FHead.size() - FRead);
  std::copy_n(FHead.data() + FRead, count, Ptr);
  FRead += count;
  return static_cast<ssize_t>(count);
}

ssize_t THeadStream::write(const char* Ptr, size_t Size) {
  return WriteAll(FSocket, FStop, std::string_view(Ptr, Size), FDeadline)
             ? static_cast<ssize_t>(Size)
             : -1;
}

void THeadStream::get_remote_ip_and_port(std::string& Ip, int& Port) const {
  AddressOf(::getpeername, FSocket, Ip, Port);
}

void THeadStream::get_local_ip_and_port(std::string& Ip, int& Port) const {
  AddressOf(::getsockname, FSocket, Ip, Port);
}
