// The metrics endpoint against clients that send too much, too slowly or
// nothing at all, or simply too many connections: it answers the scrape, keeps
// its memory and descriptors, and stops at once.
#include "MetricsServer.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "LoopbackPorts.h"

namespace {

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

// A raw client connection to 127.0.0.1:Port.
class TClient {
 public:
  explicit TClient(uint16_t Port) : FFd(ConnectLoopback(Port)), FConnected(FFd >= 0) {
    const timeval limit{2, 0};  // a send the server no longer reads gives up
    setsockopt(FFd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  }
  ~TClient() {
    if (FFd >= 0) close(FFd);
  }
  TClient(const TClient&) = delete;
  TClient& operator=(const TClient&) = delete;

  bool Connected() const { return FConnected; }
  // Sends what the server takes; a server that has answered and closed takes no more.
  void Send(const std::string& Bytes) {
    for (std::size_t sent = 0; sent < Bytes.size();) {
      const ssize_t n = send(FFd, Bytes.data() + sent, Bytes.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return;
      sent += static_cast<std::size_t>(n);
    }
  }
  // What arrives until the server closes or Limit passes.
  std::string Receive(std::chrono::milliseconds Limit = 3000ms) {
    std::string text;
    const auto deadline = TClock::now() + Limit;
    while (TClock::now() < deadline) {
      pollfd entry{FFd, POLLIN, 0};
      if (poll(&entry, 1, 20) <= 0) continue;
      char buffer[4096];
      const ssize_t n = recv(FFd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
  }
  // True when the server has answered or closed: the connection has something to read.
  bool Readable() {
    pollfd entry{FFd, POLLIN, 0};
    return poll(&entry, 1, 0) > 0;
  }

 private:
  int FFd;
  bool FConnected = false;
};

// Clients that send a byte of a request head every 200 ms, for at most 10 s.
class TSlowClients {
 public:
  TSlowClients(uint16_t Port, int Count) {
    for (int i = 0; i < Count; ++i) FClients.push_back(std::make_unique<TClient>(Port));
    FThread = std::thread([this] {
      const std::string head = "GET /metrics HTTP/1.1\r\nX-Slow: " + std::string(100, 'x');
      for (std::size_t i = 0; i < 50 && !FStop; ++i) {
        for (auto& client : FClients) client->Send(std::string(1, head[i % head.size()]));
        std::this_thread::sleep_for(200ms);
      }
    });
  }
  ~TSlowClients() {
    FStop = true;
    FThread.join();
  }

 private:
  std::vector<std::unique_ptr<TClient>> FClients;
  std::atomic<bool> FStop{false};
  std::thread FThread;
};

class MetricsServerTest : public testing::Test {
 protected:
  MetricsServerTest()
      : Port(FreePort()),
        Server(std::make_unique<TMetricsServer>("127.0.0.1", Port, [] { return "kq517_up 1\n"; })) {
  }

  // The status line of the answer to a scrape, and how long it took.
  std::string Scrape(std::chrono::milliseconds* Took = nullptr) {
    const auto start = TClock::now();
    TClient client(Port);
    client.Send("GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    const std::string answer = client.Receive();
    if (Took) *Took = std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - start);
    return answer.substr(0, answer.find('\r'));
  }

  uint16_t Port;
  std::unique_ptr<TMetricsServer> Server;
};

struct TOversized {
  const char* Name;
  std::string Request;
  const char* Status;
};

void PrintTo(const TOversized& Row, std::ostream* Out) {
  *Out << Row.Name;
}

class OversizedRequest : public MetricsServerTest,
                         public testing::WithParamInterface<TOversized> {};

TEST_P(OversizedRequest, IsRefusedWithItsStatusAndTheScrapeGoesOn) {
  TClient client(Port);
  client.Send(GetParam().Request);
  const std::string answer = client.Receive();
  EXPECT_EQ(answer.substr(0, answer.find('\r')), GetParam().Status);
  EXPECT_EQ(Scrape(), "HTTP/1.1 200 OK");
}

std::string ManyFields() {
  std::string head = "GET /metrics HTTP/1.1\r\n";
  for (int i = 0; i < 300; ++i) head += "X-Field: " + std::to_string(i) + "\r\n";
  return head + "\r\n";
}

INSTANTIATE_TEST_SUITE_P(
    MetricsServer, OversizedRequest,
    testing::Values(TOversized{"BodyOf200MB",
                               "POST /metrics HTTP/1.1\r\nContent-Length: 209715200\r\n\r\n" +
                                   std::string(64 * 1024, 'b'),
                               "HTTP/1.1 413 Payload Too Large"},
                    TOversized{"ChunkedBody",
                               "POST /metrics HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n"
                               "10\r\n0123456789abcdef\r\n0\r\n\r\n",
                               "HTTP/1.1 413 Payload Too Large"},
                    TOversized{"ThreeHundredFields", ManyFields(),
                               "HTTP/1.1 431 Request Header Fields Too Large"},
                    TOversized{"OneLineOf1MB",
                               "GET /metrics HTTP/1.1\r\nX-A: " + std::string(1 << 20, 'a'),
                               "HTTP/1.1 431 Request Header Fields Too Large"}),
    [](const testing::TestParamInfo<TOversized>& Info) { return std::string(Info.param.Name); });

TEST_F(MetricsServerTest, ScrapeIsAnsweredWithinASecondBesideIdleAndSlowClients) {
  std::vector<std::unique_ptr<TClient>> idle;
  for (int i = 0; i < 100; ++i) idle.push_back(std::make_unique<TClient>(Port));
  const TSlowClients slow(Port, 8);
  std::this_thread::sleep_for(300ms);  // all of them are the server's by now
  std::chrono::milliseconds took{};
  EXPECT_EQ(Scrape(&took), "HTTP/1.1 200 OK");
  EXPECT_LT(took, 1000ms);
}

TEST_F(MetricsServerTest, StopsAtOnceWithSlowClientsConnected) {
  const TSlowClients slow(Port, 3);
  std::this_thread::sleep_for(300ms);
  const auto start = TClock::now();
  Server.reset();
  EXPECT_LT(TClock::now() - start, 1s);
}

TEST_F(MetricsServerTest, ConnectionsBeyondTheLimitAreClosedAtOnce) {
  const std::size_t limit = TMetricsServer::ConnectionLimit();
  ASSERT_GE(limit, 16u);
  std::vector<std::unique_ptr<TClient>> clients;
  for (std::size_t i = 0; i < limit + 30; ++i) {
    clients.push_back(std::make_unique<TClient>(Port));
    ASSERT_TRUE(clients.back()->Connected());
  }
  // The server closes the 30 beyond the limit as it accepts them; a loaded machine
  // (or a sanitizer) may take a while to get there.
  std::size_t refused = 0;
  for (int wait = 0; wait < 200 && refused < 30; ++wait) {
    std::this_thread::sleep_for(50ms);
    refused = 0;
    for (auto& client : clients) refused += client->Readable();
  }
  EXPECT_EQ(refused, 30u);
  clients.clear();
  EXPECT_EQ(Scrape(), "HTTP/1.1 200 OK");  // the places are free again
}

}  // namespace
