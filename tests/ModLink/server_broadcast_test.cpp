// The connection's own broadcast writes: argument checks with their messages, and the exact
// frames that reach the line when the worker sends them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ModLinkError.h"
#include "ModbusConnection.h"
#include "ServerTestLine.h"

using namespace serialtest;

namespace {

std::string MessageOf(const std::function<void()>& Call) {
  try {
    Call();
  } catch (const EModLinkError& E) {
    return E.what();
  }
  return "(no error)";
}

class BroadcastWriteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Connection.SetPort(Pty.Path());
    Connection.SetTurnaroundDelay(0);
  }
  void TearDown() override { Connection.Close(); }

  TPtyPair Pty;
  TModbusConnection Connection;
};

TEST_F(BroadcastWriteTest, NeedsAnOpenConnection) {
  const std::string Closed = "Connection MUST be active for the requested action to be performed";
  EXPECT_EQ(MessageOf([&] { Connection.WriteSingleCoil(1, true); }), Closed);
  EXPECT_EQ(MessageOf([&] { Connection.WriteSingleRegister(1, 2); }), Closed);
  EXPECT_EQ(MessageOf([&] { Connection.WriteMultipleCoils(1, {true}); }), Closed);
  EXPECT_EQ(MessageOf([&] { Connection.WriteMultipleRegisters(1, {2}); }), Closed);
}

TEST_F(BroadcastWriteTest, MultipleWritesCheckTheirArguments) {
  Connection.Open();
  EXPECT_EQ(MessageOf([&] { Connection.WriteMultipleCoils(0, {}); }),
            "Discrete i/o count must be between 1 and 1976");
  EXPECT_EQ(MessageOf([&] { Connection.WriteMultipleCoils(0, std::vector<bool>(1977)); }),
            "Discrete i/o count must be between 1 and 1976");
  EXPECT_EQ(MessageOf([&] {
              Connection.WriteMultipleCoils(65535, {true, false});
            }),
            "Starting discrete i/o index is invalid (65535)");
  EXPECT_EQ(MessageOf([&] { Connection.WriteMultipleRegisters(0, {}); }),
            "Register count must be between 1 and 123");
  EXPECT_EQ(
      MessageOf([&] { Connection.WriteMultipleRegisters(0, std::vector<std::uint16_t>(124)); }),
      "Register count must be between 1 and 123");
  EXPECT_EQ(MessageOf([&] {
              Connection.WriteMultipleRegisters(65534, {1, 2, 3});
            }),
            "Starting register index is invalid (65534)");
  EXPECT_EQ(Connection.CountPendingTransactions(nullptr), 0);
}

TEST_F(BroadcastWriteTest, FramesOnTheLineAndIdentifiers) {
  Connection.Open();
  const std::uint32_t First = Connection.WriteSingleCoil(0x0102, true);
  EXPECT_EQ(PumpAndRead(Pty), Rtu({0, 5, 0x01, 0x02, 0xFF, 0x00}));
  EXPECT_EQ(Connection.WriteSingleCoil(3, false), First + 1);
  EXPECT_EQ(PumpAndRead(Pty), Rtu({0, 5, 0, 3, 0, 0}));
  Connection.WriteSingleRegister(7, 0xBEEF);
  EXPECT_EQ(PumpAndRead(Pty), Rtu({0, 6, 0, 7, 0xBE, 0xEF}));
  Connection.WriteMultipleCoils(10,
                                {true, false, true, true, false, false, true, true, true, false});
  EXPECT_EQ(PumpAndRead(Pty), Rtu({0, 15, 0, 10, 0, 10, 2, 0xCD, 0x01}));
  Connection.WriteMultipleRegisters(65534, {0x1234, 0x5678});
  EXPECT_EQ(PumpAndRead(Pty), Rtu({0, 16, 0xFF, 0xFE, 0, 2, 4, 0x12, 0x34, 0x56, 0x78}));
}

TEST_F(BroadcastWriteTest, LargestMultipleWritesFitInOneFrame) {
  Connection.SetTransmissionMode(tmASCII);
  Connection.Open();
  Connection.WriteMultipleRegisters(0, std::vector<std::uint16_t>(123, 0xA5A5));
  const TBytes Text = PumpAndRead(Pty);
  // 7 header bytes + 246 data bytes + LRC, as hex between ":" and CR LF.
  EXPECT_EQ(Text.size(), 1u + 2u * 254u + 2u);
  Connection.WriteMultipleCoils(0, std::vector<bool>(1976, true));
  EXPECT_EQ(PumpAndRead(Pty).size(), 1u + 2u * (7u + 247u + 1u) + 2u);
}

}  // namespace
