// The main-thread seam (the default locked queue) and the connection's internal
// window: ordering, synchronous calls, and carriers freed in every case.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "FrameBytes.h"
#include "ModLinkConsts.h"
#include "ModbusClient.h"
#include "ModbusConnection.h"
#include "PtyPair.h"
#include "TransactionThread.h"

namespace {

using namespace serialtest;
using namespace std::chrono_literals;

// Collects what reaches the application's exception handler during one test.
class TReportedErrors {
 public:
  TReportedErrors() {
    SetApplicationExceptionHandler([this](std::exception_ptr E) {
      try {
        std::rethrow_exception(E);
      } catch (const std::exception& Error) {
        Texts.push_back(Error.what());
      }
    });
  }
  ~TReportedErrors() { SetApplicationExceptionHandler(nullptr); }
  std::vector<std::string> Texts;
};

TEST(QueuedMainThread, PostedCallsRunInOrderOnTheDrainingThread) {
  TQueuedMainThread Main;
  std::vector<int> Order;
  Main.Post([&] {
    Order.push_back(1);
    Main.Post([&] { Order.push_back(3); });  // waits for the next round
  });
  Main.Post([&] { Order.push_back(2); });
  EXPECT_EQ(Main.ProcessMessages(), 2);
  EXPECT_EQ(Order, (std::vector<int>{1, 2}));
  EXPECT_EQ(Main.ProcessMessages(), 1);
  EXPECT_EQ(Order, (std::vector<int>{1, 2, 3}));

  TReportedErrors Errors;
  Main.Post([] { throw std::runtime_error("posted failure"); });
  Main.Post([&] { Order.push_back(4); });
  Main.ProcessMessages();
  EXPECT_EQ(Errors.Texts, std::vector<std::string>{"posted failure"});
  EXPECT_EQ(Order.back(), 4);
}

TEST(QueuedMainThread, SynchronizeRunsOnTheMainThreadAndReturnsItsError) {
  TQueuedMainThread Main;
  const auto MainId = std::this_thread::get_id();
  std::thread::id RanOn;
  std::string Caught;
  std::atomic<bool> Done{false};
  std::thread Worker([&] {
    Main.Synchronize([&] { RanOn = std::this_thread::get_id(); });
    try {
      Main.Synchronize([] { throw std::runtime_error("sync failure"); });
    } catch (const std::exception& E) {
      Caught = E.what();
    }
    Done = true;
  });
  EXPECT_TRUE(Main.ProcessMessagesUntil([&] { return Done.load(); }, 10s));
  Worker.join();
  EXPECT_EQ(RanOn, MainId);
  EXPECT_EQ(Caught, "sync failure");

  // On the main thread itself the call runs directly.
  bool Direct = false;
  Main.Synchronize([&] { Direct = true; });
  EXPECT_TRUE(Direct);
  EXPECT_FALSE(Main.ProcessMessagesUntil([] { return false; }, 20ms));
}

TEST(QueuedMainThread, CheckSynchronizeServesOnlyWaitingWorkers) {
  TQueuedMainThread Main;
  bool Posted = false;
  std::atomic<bool> Synced{false};
  Main.Post([&] { Posted = true; });
  std::thread Worker([&] { Main.Synchronize([&] { Synced = true; }); });
  while (Main.PendingCount() < 2) std::this_thread::sleep_for(1ms);
  Main.CheckSynchronize();
  Worker.join();
  EXPECT_TRUE(Synced);
  EXPECT_FALSE(Posted);
  Main.ProcessMessages();
  EXPECT_TRUE(Posted);
}

class InternalWindow : public ::testing::Test {
 protected:
  InternalWindow() {
    Conn = std::make_unique<TModbusConnection>();
    Conn->SetMainThread(Main);
    Conn->SetPort(Pty.Path());
  }
  TModbusTransactionPtr Completed(std::uint8_t Address) {
    auto T = std::make_unique<TModbusTransaction>(Conn->DetermineMaximumFrameSize());
    T->Info.Address = Address;
    for (std::uint8_t b : {Address, Cmd_ReadHoldingRegisters, std::uint8_t(0), std::uint8_t(0),
                           std::uint8_t(0), std::uint8_t(1)})
      T->QueryBuffer.PutByte(b);
    Conn->EmitErrorCheck(T->QueryBuffer);
    T->Originator = &Client;
    return T;
  }

  TQueuedMainThread Main;
  TPtyPair Pty;
  std::unique_ptr<TModbusConnection> Conn;
  TModbusClient Client;
};

TEST_F(InternalWindow, FrameCopiesReachTheirEventAndAreFreedEvenWhenItRaises) {
  TReportedErrors Errors;
  std::vector<std::string> Seen;
  Conn->OnFrameSend = [&](TModbusConnection&, const TFrameData& Data) {
    Seen.push_back("send " + std::to_string(Data.size()));
  };
  Conn->OnFrameReceive = [&](TModbusConnection&, const TFrameData&) {
    throw std::runtime_error("handler failed");
  };
  PFrameData Sent = CreateFrameBuffer(8);
  Conn->PostFrameData(Sent, true);
  Conn->PostFrameData(CreateFrameBuffer(5), false);
  Main.ProcessMessages();
  EXPECT_EQ(Seen, std::vector<std::string>{"send 8"});
  EXPECT_EQ(Errors.Texts, std::vector<std::string>{"handler failed"});

  auto Args = std::make_unique<TInspectCapturedFrameEventArgs>();
  Args->ServerAddress = 7;
  Args->CommandCode = 3;
  Args->CommandData = {1, 2};
  Conn->OnInspectCapturedFrame = [&](TModbusConnection&, std::uint8_t Address, std::uint8_t Code,
                                     const TFrameData& Data) {
    Seen.push_back("inspect " + std::to_string(Address) + " " + std::to_string(Code) + " " +
                   std::to_string(Data.size()));
  };
  Conn->PostInspectCapturedFrame(std::move(Args));
  Main.ProcessMessages();
  EXPECT_EQ(Seen.back(), "inspect 7 3 2");

  TMessage Other;
  Other.Msg = 0x1234;
  Other.Result = 99;
  Conn->InternalWndProc(Other);
  EXPECT_EQ(Other.Result, 0);
}

TEST_F(InternalWindow, MessagesThatOutliveTheConnectionOnlyFreeWhatTheyCarry) {
  int Calls = 0;
  Conn->OnFrameSend = [&](TModbusConnection&, const TFrameData&) { ++Calls; };
  Conn->PostFrameData(CreateFrameBuffer(8), true);
  Conn->PostTransactionComplete(Completed(1));
  Conn.reset();
  EXPECT_EQ(Main.ProcessMessages(), 2);
  EXPECT_EQ(Calls, 0);
  // Messages that are never run are freed with the queue (checked by the leak sanitizer).
  TModbusConnection Other;
  Other.SetMainThread(Main);
  Other.PostFrameData(CreateFrameBuffer(3), false);
}

TEST_F(InternalWindow, CompletionsReachOnlyAnAttachedClientWithTheSameAddressWhileOpen) {
  int Processed = 0;
  Client.OnTransactionProcessed = [&](TModbusClient&, const TTransactionInfo&, std::uint8_t Command,
                                      bool) {
    EXPECT_EQ(Command, Cmd_ReadHoldingRegisters);
    ++Processed;
  };
  Conn->PostTransactionComplete(Completed(1));  // closed: dropped
  Main.ProcessMessages();
  EXPECT_EQ(Processed, 0);

  Client.SetConnection(Conn.get());
  Conn->Open();
  Conn->PostTransactionComplete(Completed(1));
  Main.ProcessMessages();
  EXPECT_EQ(Processed, 1);

  EXPECT_EQ(Conn->FindClientFromTransaction(*Completed(2)), nullptr);
  Conn->PostTransactionComplete(Completed(2));  // the client answers to address 1
  Main.ProcessMessages();
  EXPECT_EQ(Processed, 1);

  TReportedErrors Errors;
  Client.OnTransactionProcessed = [](TModbusClient&, const TTransactionInfo&, std::uint8_t, bool) {
    throw std::runtime_error("client handler failed");
  };
  Conn->PostTransactionComplete(Completed(1));
  Main.ProcessMessages();
  EXPECT_EQ(Errors.Texts, std::vector<std::string>{"client handler failed"});

  Client.SetConnection(nullptr);
  Conn->PostTransactionComplete(Completed(1));  // no longer attached: dropped
  Main.ProcessMessages();
  Conn->Close();
}

}  // namespace
