// The simulator's Modbus TCP front end: framing, and survival of clients that
// misbehave. The server runs on the test's own thread: each test pumps it
// with ServeOnce while it plays the clients, so nothing races.

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

#include "LoopbackPorts.h"
#include "ModbusTcpFrontEnd.h"
#include "ServedFrontEnd.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

// Answers every PDU with its function code and its length, so a test sees
// which request a reply belongs to.
std::size_t EchoHandler(const TTcpRequest& r, std::span<std::uint8_t> reply) {
  reply[0] = r.pdu[0] == 6 ? 0x86 : r.pdu[0];
  reply[1] = r.pdu[0] == 6 ? 1 : static_cast<std::uint8_t>(r.pdu.size());
  return 2;
}

Bytes Frame(std::uint16_t tid, std::uint8_t unit, const Bytes& pdu, std::uint16_t protocol = 0) {
  const auto length = static_cast<std::uint16_t>(pdu.size() + 1);
  Bytes f{static_cast<std::uint8_t>(tid >> 8),
          static_cast<std::uint8_t>(tid),
          static_cast<std::uint8_t>(protocol >> 8),
          static_cast<std::uint8_t>(protocol),
          static_cast<std::uint8_t>(length >> 8),
          static_cast<std::uint8_t>(length),
          unit};
  f.insert(f.end(), pdu.begin(), pdu.end());
  return f;
}

// One client socket, closed when it goes out of scope.
class Client {
 public:
  // A receive buffer of receiveBuffer bytes, when given, makes the server's replies back up soon.
  explicit Client(std::uint16_t port, int receiveBuffer = 0)
      : fd(ConnectLoopback(port, receiveBuffer)) {
    if (fd < 0) throw std::runtime_error("connect failed");
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  }
  ~Client() { Close(); }
  void Close() {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  // Closes with a reset instead of an orderly shutdown.
  void Abort() {
    const linger hard{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    Close();
  }
  // Sends what the socket takes right now; returns the bytes sent.
  std::size_t Send(const Bytes& b) {
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
  Bytes received;
};

class TcpFrontEnd : public TServedFrontEnd<TModbusTcpFrontEnd> {
 protected:
  void Start(TTcpFrontEndSettings settings = {},
             TModbusTcpFrontEnd::TPduHandler handler = EchoHandler) {
    settings.port = 0;
    server = std::make_unique<TModbusTcpFrontEnd>(settings, handler);
    server->Listen();
  }
  std::uint16_t Port() const { return server->Port(); }
};

}  // namespace

TEST_F(TcpFrontEnd, AnswersUnderTheRequestsHeader) {
  Start();
  Client c(Port());
  c.Send(Frame(0xBEEF, 7, {3, 0, 0, 0, 1}));
  PumpUntilReceived(c, 9);
  EXPECT_EQ(c.received, Frame(0xBEEF, 7, {3, 5}));
  c.received.clear();
  c.Send(Frame(2, 0, {6, 0, 1, 0, 2}));
  PumpUntilReceived(c, 9);
  EXPECT_EQ(c.received, Frame(2, 0, {0x86, 1}));
}

TEST_F(TcpFrontEnd, FramesSplitAnywhereOrSentTogetherAreAllAnswered) {
  Start();
  Client c(Port());
  const Bytes one = Frame(1, 0, {3, 0, 0, 0, 10});
  for (std::uint8_t b : one) {
    c.Send({b});
    server->ServeOnce(0);
  }
  Bytes three;
  for (std::uint16_t tid = 2; tid <= 4; ++tid) {
    const Bytes f = Frame(tid, 0, {4, 0, 0, 0, static_cast<std::uint8_t>(tid)});
    three.insert(three.end(), f.begin(), f.end());
  }
  c.Send(three);
  PumpUntilReceived(c, 4 * 9);
  Bytes expected = Frame(1, 0, {3, 5});
  for (std::uint16_t tid = 2; tid <= 4; ++tid) {
    const Bytes f = Frame(tid, 0, {4, 5});
    expected.insert(expected.end(), f.begin(), f.end());
  }
  EXPECT_EQ(c.received, expected);
}

TEST_F(TcpFrontEnd, HeadersThatAreNotModbusCloseOnlyThatConnection) {
  Start();
  Client good(Port());
  for (const Bytes& bad :
       {Frame(1, 0, {3, 0, 0, 0, 1}, /*protocol=*/1), Bytes{0, 1, 0, 0, 0, 0, 0},  // length 0
        Bytes{0, 1, 0, 0, 0, 1, 0},           // length 1: no function code
        Bytes{0, 1, 0, 0, 0x01, 0x2C, 0}}) {  // length 300
    Client c(Port());
    c.Send(bad);
    PumpUntilClosed(c);
  }
  good.Send(Frame(9, 0, {3, 0, 0, 0, 1}));
  PumpUntilReceived(good, 9);
  EXPECT_EQ(good.received, Frame(9, 0, {3, 5}));
}

TEST_F(TcpFrontEnd, RequestsBeforeAHeaderThatIsNotModbusAreAnsweredThenTheConnectionCloses) {
  Start();
  Client c(Port());
  Bytes both = Frame(1, 0, {3, 0, 0, 0, 1});
  const Bytes bad{0, 2, 0, 0, 0, 0, 0};  // length 0
  both.insert(both.end(), bad.begin(), bad.end());
  c.Send(both);
  PumpUntilClosed(c);
  EXPECT_EQ(c.received, Frame(1, 0, {3, 5}));
}

TEST_F(TcpFrontEnd, LargestFrameIsAcceptedAndAHalfFrameTimesOut) {
  TTcpFrontEndSettings settings;
  settings.frameTimeout = 200ms;
  Start(settings);
  Client big(Port());
  big.Send(Frame(1, 0, Bytes(253, 3)));
  PumpUntilReceived(big, 9);
  EXPECT_EQ(big.received, Frame(1, 0, {3, 253}));

  Client half(Port());
  const Bytes f = Frame(2, 0, {3, 0, 0, 0, 1});
  half.Send(Bytes(f.begin(), f.begin() + 9));
  const auto sent = std::chrono::steady_clock::now();
  PumpUntilClosed(half);
  EXPECT_GE(std::chrono::steady_clock::now() - sent, 200ms);
  EXPECT_TRUE(half.received.empty());
}

TEST_F(TcpFrontEnd, IdleConnectionsAreClosed) {
  TTcpFrontEndSettings settings;
  settings.idleTimeout = 300ms;
  Start(settings);
  Client idle(Port());
  PumpUntilClosed(idle);
  EXPECT_EQ(server->ClientCount(), 0u);
}

TEST_F(TcpFrontEnd, ClientsThatVanishAreForgotten) {
  Start();
  {
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < 100; ++i) clients.push_back(std::make_unique<Client>(Port()));
    PumpUntil([&] { return server->ClientCount() == 100; });
    for (int i = 0; i < 100; ++i) {
      Client& c = *clients[static_cast<std::size_t>(i)];
      const Bytes f = Frame(static_cast<std::uint16_t>(i), 0, {3, 0, 0, 0, 1});
      switch (i % 4) {
        case 0:
          c.Close();
          break;  // connects and vanishes
        case 1:
          c.Send(f);
          c.Close();
          break;  // asks and does not wait
        case 2:
          c.Send(Bytes(f.begin(), f.begin() + 3));
          c.Abort();
          break;  // half frame, reset
        case 3:
          c.Send(f);
          c.Abort();
          break;
      }
    }
  }
  PumpUntil([&] { return server->ClientCount() == 0; });
  EXPECT_EQ(server->PendingReplyBytes(), 0u);
  Client after(Port());
  after.Send(Frame(1, 0, {3, 0, 0, 0, 1}));
  PumpUntilReceived(after, 9);
}

TEST_F(TcpFrontEnd, HundredConcurrentConnectionsOpenAskAndClose) {
  Start();
  for (int round = 0; round < 5; ++round) {
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < 100; ++i) {
      clients.push_back(std::make_unique<Client>(Port()));
      clients.back()->Send(Frame(static_cast<std::uint16_t>(i), 1, {3, 0, 0, 0, 1}));
    }
    for (int i = 0; i < 100; ++i) {
      Client& c = *clients[static_cast<std::size_t>(i)];
      PumpUntilReceived(c, 9);
      EXPECT_EQ(c.received, Frame(static_cast<std::uint16_t>(i), 1, {3, 5}));
    }
    clients.clear();
    PumpUntil([&] { return server->ClientCount() == 0; });
  }
}

TEST_F(TcpFrontEnd, AtTheLimitALeavingClientMakesRoomElseTheLongestIdleOne) {
  TTcpFrontEndSettings settings;
  settings.maxClients = 3;
  Start(settings);
  const Bytes request = Frame(1, 0, {3, 0, 0, 0, 1});
  Client a(Port()), b(Port()), c(Port());
  PumpUntil([&] { return server->ClientCount() == 3; });
  // b leaves and d arrives in the same wake-up: d takes b's place, nobody else goes.
  b.Close();
  Client d(Port());
  server->ServeOnce(1000);
  EXPECT_EQ(server->ClientCount(), 3u);
  c.Send(request);
  d.Send(request);
  PumpUntilReceived(c, 9);
  PumpUntilReceived(d, 9);
  // a has sent nothing since it came: it makes room for e.
  Client e(Port());
  PumpUntilClosed(a);
  e.Send(request);
  PumpUntilReceived(e, 9);
  c.Send(request);
  PumpUntilReceived(c, 18);
}

TEST_F(TcpFrontEnd, AClientThatDoesNotReadItsRepliesIsNotReadEither) {
  Start(TTcpFrontEndSettings{}, [](const TTcpRequest& r, std::span<std::uint8_t> reply) {
    std::fill_n(reply.begin(), 250, r.pdu[0]);  // a large reply for a small request
    return std::size_t{250};
  });
  Client c(Port());
  const Bytes f = Frame(1, 0, {3, 0, 0, 0, 125});
  std::size_t requests = 0;
  std::size_t peak = 0;
  for (int stalled = 0; stalled < 50 && requests < 5000;) {
    const std::size_t n = c.Send(f);
    if (n == f.size()) {
      ++requests;
      stalled = 0;
    } else {
      ASSERT_EQ(n, 0u) << "partial send in the test client";
      ++stalled;
    }
    server->ServeOnce(0);
    peak = std::max(peak, server->PendingReplyBytes());
  }
  EXPECT_LE(peak, TModbusTcpFrontEnd::MaxPendingReplyBytes + 32 * 257);
  // Reading the replies lets everything through: nothing was lost.
  PumpUntilReceived(c, requests * (7 + 250));
  EXPECT_EQ(c.received.size(), requests * (7 + 250));
}

// Held back by its own unread replies for longer than the frame time-out, a
// pipelining client is not taken for one that left a frame unfinished.
TEST_F(TcpFrontEnd, BackPressureDoesNotCountAgainstTheFrameTimeOut) {
  TTcpFrontEndSettings settings;
  settings.frameTimeout = 200ms;
  Start(settings, [](const TTcpRequest&, std::span<std::uint8_t> reply) {
    std::fill_n(reply.begin(), 250, std::uint8_t{3});
    return std::size_t{250};
  });
  Client c(Port(), 4096);
  // Requests sent in bulk, so that the server's reads cut them anywhere and
  // it holds a frame begun while it waits for the client to read.
  Bytes stream;
  for (int i = 0; i < 20000; ++i) {
    const Bytes f = Frame(static_cast<std::uint16_t>(i), 0, {3, 0, 0, 0, 125});
    stream.insert(stream.end(), f.begin(), f.end());
  }
  std::size_t sent = 0;
  while (server->PendingReplyBytes() < TModbusTcpFrontEnd::MaxPendingReplyBytes) {
    ASSERT_LT(sent, stream.size()) << "the replies never backed up";
    const std::size_t bulk = std::min<std::size_t>(stream.size() - sent, 64 * 12);
    sent += c.Send(Bytes(stream.begin() + static_cast<std::ptrdiff_t>(sent),
                         stream.begin() + static_cast<std::ptrdiff_t>(sent + bulk)));
    server->ServeOnce(0);
  }
  const std::size_t requests = sent / 12;
  const auto until = std::chrono::steady_clock::now() + 800ms;
  while (std::chrono::steady_clock::now() < until) server->ServeOnce(5);
  PumpUntil([&] { return !c.Collect() || c.received.size() == requests * 257; });
  EXPECT_EQ(c.received.size(), requests * 257);
  EXPECT_TRUE(c.Collect()) << "closed";
}

TEST_F(TcpFrontEnd, ListensOnLoopbackOnlyAndSaysWhyNot) {
  for (const char* host : {"192.0.2.1", "0.0.0.0", "::", "meter.example", ""}) {
    TTcpFrontEndSettings settings;
    settings.host = host;
    TModbusTcpFrontEnd fe(settings, EchoHandler);
    EXPECT_THROW(fe.Listen(), std::runtime_error) << host;
  }
  Start();
  TTcpFrontEndSettings busy;
  busy.port = Port();
  TModbusTcpFrontEnd second(busy, EchoHandler);
  try {
    second.Listen();
    FAIL() << "a second server on the same port";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("127.0.0.1:" + std::to_string(Port())), std::string::npos)
        << e.what();
  }
}
