// Windows waits on sockets and on event objects with different calls, so the wake-up
// is a socket too: one end of a connected loopback pair, readable while the other end
// has written to it.
#include "../WakeChannel.h"

#include <winsock2.h>

#include <system_error>

#include "../Sockets.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  throw std::system_error(WSAGetLastError(), std::system_category(), what);
}

}  // namespace

TWakeChannel::TWakeChannel() {
  StartSockets();
  const SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (listener == INVALID_SOCKET) Fail("wake-up socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  SOCKET writer = INVALID_SOCKET;
  SOCKET reader = INVALID_SOCKET;
  if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::listen(listener, 1) == 0 &&
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    writer = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (writer != INVALID_SOCKET &&
        ::connect(writer, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
      reader = ::accept(listener, nullptr, nullptr);
  }
  const int error = WSAGetLastError();
  closesocket(listener);
  u_long on = 1;
  if (reader == INVALID_SOCKET || ioctlsocket(reader, FIONBIO, &on) != 0 ||
      ioctlsocket(writer, FIONBIO, &on) != 0) {
    if (writer != INVALID_SOCKET) closesocket(writer);
    if (reader != INVALID_SOCKET) closesocket(reader);
    WSASetLastError(error);
    Fail("wake-up socket pair");
  }
  const BOOL noDelay = TRUE;
  ::setsockopt(writer, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
               sizeof noDelay);
  FRead = static_cast<TPollHandle>(reader);
  FWrite = static_cast<TPollHandle>(writer);
}

TWakeChannel::~TWakeChannel() {
  closesocket(static_cast<SOCKET>(FWrite));
  closesocket(static_cast<SOCKET>(FRead));
}

void TWakeChannel::Signal() noexcept {
  // A full socket buffer means the reader has plenty to wake up to already.
  const char one = 1;
  ::send(static_cast<SOCKET>(FWrite), &one, 1, 0);
}

void TWakeChannel::Drain() noexcept {
  char scratch[256];
  while (::recv(static_cast<SOCKET>(FRead), scratch, sizeof scratch, 0) > 0) {
  }
}
