#pragma once
// One TCP client socket on 127.0.0.1 for tests that drive a front end in-process: it sends
// what the socket takes at once and collects what has arrived, never blocking.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "LoopbackPorts.h"

struct TLoopbackClient {
  explicit TLoopbackClient(std::uint16_t port) : fd(ConnectLoopback(port)) {
    if (fd < 0) throw std::runtime_error("connect");
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  }
  ~TLoopbackClient() { ::close(fd); }
  void Send(const std::vector<std::uint8_t>& b) { ::send(fd, b.data(), b.size(), MSG_NOSIGNAL); }
  // Collects what has arrived; false once the server has closed the connection.
  bool Collect() {
    std::uint8_t buf[4096];
    ssize_t n;
    while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0) received.insert(received.end(), buf, buf + n);
    return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
  }

  int fd;
  std::vector<std::uint8_t> received;
};
