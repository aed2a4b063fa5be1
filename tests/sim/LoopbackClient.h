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

class TLoopbackClient {
 public:
  using TBytes = std::vector<std::uint8_t>;

  explicit TLoopbackClient(std::uint16_t port)
      : fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      ::close(fd);
      throw std::runtime_error("connect failed");
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  }
  ~TLoopbackClient() { ::close(fd); }
  TLoopbackClient(const TLoopbackClient&) = delete;
  TLoopbackClient& operator=(const TLoopbackClient&) = delete;

  std::size_t Send(const TBytes& b) {
    const ssize_t n = ::send(fd, b.data(), b.size(), MSG_NOSIGNAL);
    return n > 0 ? static_cast<std::size_t>(n) : 0;
  }
  // Collects what has arrived; false once the server has closed the connection.
  bool Collect() {
    std::uint8_t buf[4096];
    for (;;) {
      const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n > 0) {
        received.insert(received.end(), buf, buf + n);
        continue;
      }
      if (n == 0) return false;
      return errno == EAGAIN || errno == EWOULDBLOCK;
    }
  }

  int fd;
  TBytes received;
};
