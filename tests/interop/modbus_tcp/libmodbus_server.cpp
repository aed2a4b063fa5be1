// A Modbus TCP server built on libmodbus, for interoperability tests and the
// benchmark. It listens on 127.0.0.1 on a port chosen by the system, prints
// that port on the first line of its standard output and serves any number of
// connections until it is terminated, or until the process that started it
// ends (so that a test that crashed leaves no server behind).
//
// Data: 1000 coils, discrete inputs, holding and input registers from address
// 0; discrete input i is on when i is a multiple of 3, input register i holds
// i * 7, and holding register i starts at i. Addresses beyond 999 get the
// exception "illegal data address" (2).

#include <modbus/modbus.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <vector>

int main() {
  // End with the starter; had it already gone, the parent is now someone else.
  const pid_t starter = getppid();
  if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || getppid() != starter) return 1;

  constexpr int Size = 1000;
  modbus_t* ctx = modbus_new_tcp("127.0.0.1", 0);
  modbus_mapping_t* map = modbus_mapping_new(Size, Size, Size, Size);
  if (ctx == nullptr || map == nullptr) {
    std::fprintf(stderr, "libmodbus server: cannot allocate its context\n");
    return 1;
  }
  for (int i = 0; i < Size; ++i) {
    map->tab_input_bits[i] = i % 3 == 0 ? 1 : 0;
    map->tab_input_registers[i] = static_cast<uint16_t>(i * 7);
    map->tab_registers[i] = static_cast<uint16_t>(i);
  }

  const int listener = modbus_tcp_listen(ctx, 16);
  sockaddr_in address{};
  socklen_t length = sizeof(address);
  if (listener < 0 || getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    std::perror("libmodbus server: listen");
    return 1;
  }
  std::printf("%d\n", ntohs(address.sin_port));
  std::fflush(stdout);

  // One select loop over the listener and every open connection, so that
  // several clients can stay connected at the same time.
  std::vector<int> clients;
  std::vector<uint8_t> query(MODBUS_TCP_MAX_ADU_LENGTH);
  for (;;) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(listener, &readable);
    int highest = listener;
    for (const int c : clients) {
      FD_SET(c, &readable);
      if (c > highest) highest = c;
    }
    if (select(highest + 1, &readable, nullptr, nullptr, nullptr) < 0) continue;
    if (FD_ISSET(listener, &readable)) {
      const int c = accept(listener, nullptr, nullptr);
      if (c >= 0 && c < FD_SETSIZE)
        clients.push_back(c);
      else if (c >= 0)
        close(c);
    }
    for (std::size_t i = 0; i < clients.size();) {
      const int c = clients[i];
      if (!FD_ISSET(c, &readable)) {
        ++i;
        continue;
      }
      modbus_set_socket(ctx, c);
      const int received = modbus_receive(ctx, query.data());
      if (received > 0) {
        modbus_reply(ctx, query.data(), received, map);
        ++i;
      } else if (received == 0) {
        ++i;  // not for this unit; nothing to answer
      } else {
        close(c);
        clients.erase(clients.begin() + static_cast<std::ptrdiff_t>(i));
      }
    }
  }
}
