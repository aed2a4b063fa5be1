// The frames the client hands to its frame hook: each request as written, and
// each received frame (or the end of the wait) with what it turned out to be.

#include <atomic>
#include <chrono>
#include <utility>
#include <vector>

#include "ClientFixture.h"

using namespace std::chrono_literals;
using TFrame = TScriptedTcpServer::TFrame;
using TServer = TScriptedTcpServer;

TEST_F(ClientFixture, FrameHookRecordsEveryFrameWithItsOutcome) {
  std::atomic<int> request{0};
  Start([&](const TFrame& Request) {
    const TFrame good = TServer::RegistersReply(Request, {1, 2, 3, 4});
    switch (request++) {
      case 0:
        return TServer::TScript{TServer::Send(good)};
      case 1:
        return TServer::TScript{TServer::Send(TServer::ExceptionReply(Request, 2))};
      case 2: {  // protocol identifier 1: not a Modbus reply, dropped
        TFrame foreign = TServer::RegistersReply(Request, {9, 9, 9, 9});
        foreign[3] = 1;
        return TServer::TScript{TServer::Send(foreign), TServer::Send(good)};
      }
      case 3:
        return TServer::TScript{TServer::Send(TServer::Reply(Request, {3, 6, 0, 1, 0, 2, 0, 3}))};
      default:
        return TServer::TScript{TServer::Send(TFrame(good.begin(), good.begin() + 5))};
    }
  });
  std::vector<TFrameRecord> records;
  Client.FrameHook().Subscribe([&](const TFrameRecord& R) { records.push_back(R); });

  std::vector<uint16_t> values(4);
  EXPECT_TRUE(Client.ReadHoldingRegisters(1, 4, values));
  EXPECT_FALSE(Client.ReadHoldingRegisters(1, 4, values));
  EXPECT_TRUE(Client.ReadHoldingRegisters(1, 4, values));
  EXPECT_EQ(values, (std::vector<uint16_t>{1, 2, 3, 4}));
  EXPECT_FALSE(Client.ReadHoldingRegisters(1, 4, values));
  Client.SetTimeOut(300);
  EXPECT_FALSE(Client.ReadHoldingRegisters(1, 4, values));

  using D = TFrameDirection;
  using O = TFrameOutcome;
  const std::vector<std::pair<D, O>> expected = {{D::fdSent, O::foOk},
                                                 {D::fdReceived, O::foOk},
                                                 {D::fdSent, O::foOk},
                                                 {D::fdReceived, O::foException},
                                                 {D::fdSent, O::foOk},
                                                 {D::fdReceived, O::foUnmatched},
                                                 {D::fdReceived, O::foOk},
                                                 {D::fdSent, O::foOk},
                                                 {D::fdReceived, O::foLengthError},
                                                 {D::fdSent, O::foOk},
                                                 {D::fdReceived, O::foTimeout}};
  ASSERT_EQ(records.size(), expected.size());
  const auto requests = Server->Requests();
  std::size_t sent = 0;
  for (std::size_t i = 0; i < records.size(); ++i) {
    const TFrameRecord& r = records[i];
    EXPECT_EQ(std::make_pair(r.Direction, r.Outcome), expected[i]) << "record " << i;
    EXPECT_EQ(r.Framing, TFrameFraming::ffTcp);
    if (r.Direction == D::fdSent) {
      EXPECT_EQ(r.Bytes, requests.at(sent++)) << "record " << i;
      EXPECT_EQ(r.ResponseTime, 0ns);
    } else {
      EXPECT_GT(r.ResponseTime, 0ns) << "record " << i;
    }
  }
  EXPECT_EQ(records[1].Bytes.size(), 17u);     // header, function code, byte count, 4 registers
  EXPECT_EQ(records.back().Bytes.size(), 5u);  // what had arrived at the time-out
  EXPECT_GE(records.back().ResponseTime, 300ms);
}
