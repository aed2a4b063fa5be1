// Loopback TCP ports and connections for tests that talk to a server of their own.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

// A port on 127.0.0.1 that was free a moment ago.
inline uint16_t FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

// A TCP socket connected to 127.0.0.1:Port, or -1 when nothing accepts there.
// A positive ReceiveBuffer is the socket's receive buffer, set before connecting.
inline int ConnectLoopback(uint16_t Port, int ReceiveBuffer = 0) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (ReceiveBuffer > 0)
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &ReceiveBuffer, sizeof ReceiveBuffer);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(Port);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// A socket listening on 127.0.0.1:Port, or on [::1]:Port with Family AF_INET6 (Port 0: a
// port the system picks, written back to Port), or -1 with errno telling why.
inline int ListenLoopback(uint16_t& Port, int Backlog = 8, int Family = AF_INET) {
  const int fd = socket(Family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const int yes = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in v4{};
  v4.sin_family = AF_INET;
  v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  v4.sin_port = htons(Port);
  sockaddr_in6 v6{};
  v6.sin6_family = AF_INET6;
  v6.sin6_addr = in6addr_loopback;
  v6.sin6_port = htons(Port);
  sockaddr* address =
      Family == AF_INET6 ? reinterpret_cast<sockaddr*>(&v6) : reinterpret_cast<sockaddr*>(&v4);
  socklen_t length = Family == AF_INET6 ? sizeof v6 : sizeof v4;
  if (bind(fd, address, length) != 0 || listen(fd, Backlog) != 0 ||
      getsockname(fd, address, &length) != 0) {
    const int error = errno;
    close(fd);
    errno = error;
    return -1;
  }
  Port = ntohs(Family == AF_INET6 ? v6.sin6_port : v4.sin_port);
  return fd;
}

// Whether a server accepts connections on 127.0.0.1:Port yet.
inline bool Accepting(uint16_t Port) {
  const int fd = ConnectLoopback(Port);
  if (fd >= 0) close(fd);
  return fd >= 0;
}
