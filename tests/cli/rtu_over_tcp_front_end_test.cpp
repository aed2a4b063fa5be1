// The simulator's serial device server: RTU frames cut out of a TCP stream and answered
// with their CRC, noise dropped, and the client limit and time-outs of the Modbus TCP port
// (ASCII against pymodbus in rtu_over_tcp_interop.cpp). The server runs on the test's own thread:
// each test pumps it with ServeOnce while it plays the clients, so nothing races.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "FrameBytes.h"
#include "LoopbackClient.h"
#include "RtuOverTcpFrontEnd.h"
#include "ServedFrontEnd.h"

namespace {

using namespace std::chrono_literals;
using serialtest::Rtu;
using TBytes = std::vector<std::uint8_t>;

// Slave 1 answers every PDU with its function code and its length, so a test sees which
// query a reply belongs to; other slaves are silent.
std::size_t LengthReply(const TRtuOverTcpRequest& r, std::span<std::uint8_t> reply) {
  if (r.address != 1) return 0;
  reply[0] = r.pdu[0];
  reply[1] = 2;
  reply[2] = 0;
  reply[3] = static_cast<std::uint8_t>(r.pdu.size());
  return 4;
}

TBytes Joined(std::initializer_list<TBytes> parts) {
  TBytes all;
  for (const TBytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

class RtuOverTcp : public TServedFrontEnd<TRtuOverTcpFrontEnd> {
 protected:
  void Start(TTransmissionMode mode, TTcpFrontEndSettings settings = {}) {
    settings.port = 0;
    server = std::make_unique<TRtuOverTcpFrontEnd>(settings, mode, LengthReply);
    server->Listen();
  }
};

TEST_F(RtuOverTcp, FramesSplitAnywhereOrSentTogetherAreAnsweredWithTheirCrc) {
  Start(tmRTU);
  TLoopbackClient c(server->Port());
  for (std::uint8_t b : Rtu({1, 3, 0, 0, 0, 10})) {
    c.Send({b});
    server->ServeOnce(0);
  }
  // Together: another slave's query, a write and a read; only slave 1's are answered.
  c.Send(Joined({Rtu({2, 3, 0, 0, 0, 1}), Rtu({1, 6, 0, 1, 0, 2}), Rtu({1, 4, 0, 0, 0, 1})}));
  PumpUntilReceived(c, 3 * 7);
  EXPECT_EQ(c.received, Joined({Rtu({1, 3, 2, 0, 5}), Rtu({1, 6, 2, 0, 5}), Rtu({1, 4, 2, 0, 5})}));
}

TEST_F(RtuOverTcp, NoiseAndBadChecksAreDroppedAndAnUnpredictableFrameEndsAtThePause) {
  Start(tmRTU);
  TLoopbackClient c(server->Port());
  TBytes badCrc = Rtu({1, 3, 0, 0, 0, 1});
  badCrc.back() ^= 0xFF;
  for (const TBytes& dropped : {TBytes{0xFF, 0x00, 0x13}, badCrc}) {
    c.Send(dropped);
    server->ServeOnce(10);
    std::this_thread::sleep_for(2 * TRtuOverTcpFrontEnd::NetworkSilence);
    server->ServeOnce(0);
  }
  // Function 0x41 does not tell its length: the pause of the network's silence ends it.
  c.Send(Rtu({1, 0x41, 9, 9, 9}));
  PumpUntilReceived(c, 7);
  EXPECT_EQ(c.received, Rtu({1, 0x41, 2, 0, 4}));
}

TEST_F(RtuOverTcp, AtTheLimitTheLongestIdleClientMakesRoomAndIdleClientsAreClosed) {
  TTcpFrontEndSettings settings;
  settings.maxClients = 2;
  settings.idleTimeout = 1500ms;
  Start(tmRTU, settings);
  TLoopbackClient a(server->Port()), b(server->Port());
  PumpUntil([&] { return server->ClientCount() == 2; });
  b.Send(Rtu({1, 3, 0, 0, 0, 1}));
  PumpUntilReceived(b, 7);
  // a has asked nothing since it came: it makes room for c.
  TLoopbackClient c(server->Port());
  PumpUntilClosed(a);
  c.Send(Rtu({1, 3, 0, 0, 0, 1}));
  PumpUntilReceived(c, 7);
  PumpUntilClosed(b);
  PumpUntilClosed(c);
  EXPECT_EQ(server->ClientCount(), 0u);
}

}  // namespace
