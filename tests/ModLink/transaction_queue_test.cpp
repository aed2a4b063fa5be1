// The transaction queue: counting and discarding by client, the effect of a new server
// address, closing with requests still queued or completions still in the message queue,
// and requests queued on a connection whose worker never takes them.
#include <gtest/gtest.h>

#include "ClientTestSupport.h"

namespace {

using namespace serialtest;

// A connection whose worker is kept busy by one silent request, so that the requests made
// afterwards stay queued.
class TransactionQueue : public ::testing::Test {
 protected:
  void SetUp() override {
    Rig.Connection.SetReceiveTimeout(1000);
    Rig.Connection.OnFrameSend = [this](auto&, const TFrameData&) { ++Sent; };
    for (TModbusClient* C : {&Rig.Client, &Same, &Other}) {
      C->SetConnection(&Rig.Connection);
      C->OnHoldingRegistersRead = [this](auto&, auto&, auto, auto, auto&) { ++Events; };
    }
    Other.SetServerAddress(2);
    Rig.Connection.Open();
    Other.ReadHoldingRegisters(0, 1);
    ASSERT_TRUE(TClientRig::RunUntil([this] { return Sent == 1; }));
  }

  TClientRig Rig;      // Rig.Client talks to server 1
  TModbusClient Same;  // another client of server 1
  TModbusClient Other;
  int Sent = 0;
  int Events = 0;
};

TEST_F(TransactionQueue, CountsByServerAddressAndDiscardsByOriginator) {
  Rig.Client.ReadHoldingRegisters(0, 1);
  Rig.Client.ReadHoldingRegisters(0, 1);
  Same.ReadHoldingRegisters(0, 1);
  Other.ReadHoldingRegisters(0, 1);
  // The request being executed is no longer queued.
  EXPECT_EQ(Rig.Connection.CountPendingTransactions(nullptr), 4);
  EXPECT_EQ(Rig.Connection.CountPendingTransactions(&Rig.Client), 3);  // shares server 1
  EXPECT_EQ(Rig.Connection.CountPendingTransactions(&Other), 1);

  Rig.Connection.DiscardPendingTransactions(&Rig.Client);
  EXPECT_EQ(Rig.Connection.CountPendingTransactions(&Same), 1);
  EXPECT_EQ(Rig.Connection.CountPendingTransactions(nullptr), 2);
  Rig.Connection.DiscardPendingTransactions(nullptr);
  EXPECT_EQ(Rig.Connection.CountPendingTransactions(nullptr), 0);

  // Only the request that was running when the queue was emptied is reported.
  ASSERT_TRUE(TClientRig::RunUntil([this] { return Events == 1; }));
  TClientRig::RunUntil([] { return false; }, 100ms);
  EXPECT_EQ(Events, 1);
}

TEST_F(TransactionQueue, NewServerAddressDropsQueuedRequests) {
  Rig.Client.ReadHoldingRegisters(0, 1);
  Rig.Client.SetServerAddress(1);  // unchanged: kept
  EXPECT_EQ(Rig.Connection.CountPendingTransactions(nullptr), 1);
  Rig.Client.SetServerAddress(3);
  EXPECT_EQ(Rig.Connection.CountPendingTransactions(nullptr), 0);
}

TEST_F(TransactionQueue, AddressChangedWhileRunningDropsTheCompletion) {
  Other.SetServerAddress(5);
  ASSERT_TRUE(TClientRig::RunUntil(
      [this] { return Rig.Connection.CountPendingTransactions(nullptr) == 0; }));
  Rig.Client.ReadHoldingRegisters(0, 1);  // queued behind the running one, completes after it
  ASSERT_TRUE(TClientRig::RunUntil([this] { return Events == 1 && Sent == 2; }, 5s));
  TClientRig::RunUntil([] { return false; }, 100ms);
  EXPECT_EQ(Events, 1);
}

TEST_F(TransactionQueue, CloseFreesQueuedRequestsUnreported) {
  for (int i = 0; i < 5; ++i) Rig.Client.ReadHoldingRegisters(0, 1);
  // Close waits for the running request; its completion then finds the port closed.
  Rig.Connection.Close();
  EXPECT_EQ(Rig.Connection.CountPendingTransactions(nullptr), 0);
  TClientRig::Main().ProcessMessages();
  EXPECT_EQ(Events, 0);
}

TEST_F(TransactionQueue, DestroyedClientGetsNoCompletion) {
  auto Gone = std::make_unique<TModbusClient>();
  bool Called = false;
  Gone->OnHoldingRegistersRead = [&](auto&, auto&, auto, auto, auto&) { Called = true; };
  Gone->SetConnection(&Rig.Connection);
  Gone->ReadHoldingRegisters(0, 1);
  Gone.reset();
  EXPECT_EQ(Rig.Connection.ClientCount(), 3);
  ASSERT_TRUE(TClientRig::RunUntil([this] { return Events == 1 && Sent == 2; }, 5s));
  TClientRig::RunUntil([] { return false; }, 1200ms);
  EXPECT_FALSE(Called);
}

TEST(TransactionQueueServerMode, RequestsWaitUnservedAndAreFreedOnClose) {
  TClientRig Rig;
  Rig.Connection.SetConnectionMode(cmServer);
  int Events = 0;
  Rig.Client.OnHoldingRegistersRead = [&](auto&, auto&, auto, auto, auto&) { ++Events; };
  Rig.Connection.Open();
  Rig.Client.ReadHoldingRegisters(0, 1);
  Rig.Client.ReadHoldingRegisters(0, 1);
  EXPECT_EQ(Rig.Connection.CountPendingTransactions(nullptr), 2);
  Rig.Connection.DiscardPendingTransactions(nullptr);  // client mode only
  EXPECT_EQ(Rig.Connection.CountPendingTransactions(nullptr), 2);
  Rig.Connection.Close();
  TClientRig::Main().ProcessMessages();
  EXPECT_EQ(Events, 0);
}

}  // namespace
