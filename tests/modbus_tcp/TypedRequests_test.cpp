// Values through the request methods: coils, registers, the 32- and 64-bit
// types and strings, what the caller's arrays hold afterwards, and what the
// out-arguments hold after a failure.

#include <atomic>
#include <cmath>
#include <string>
#include <vector>

#include "ClientFixture.h"

using TFrame = TScriptedTcpServer::TFrame;
using TServer = TScriptedTcpServer;

namespace {

class TypedRequests : public ClientFixture {
 protected:
  void SetUp() override { Start(Memory.Handler()); }

  // With BaseRegister 1, register number n is address n - 1.
  void SetRegisters(uint16_t RegNo, const std::vector<uint16_t>& Values) {
    for (std::size_t i = 0; i < Values.size(); ++i)
      Memory.SetRegister(static_cast<uint16_t>(RegNo - 1 + i), Values[i]);
  }

  TModbusMemory Memory;
};

class FailingRequests : public ClientFixture {
 protected:
  void SetUp() override {
    Start(
        TServer::Always([](const TFrame& Request) { return TServer::ExceptionReply(Request, 2); }));
  }
};

}  // namespace

TEST_F(TypedRequests, MultiRegisterValuesKeepTheirRegisterOrder) {
  SetRegisters(1, {0x1234, 0x5678});
  uint32_t dword = 0;
  EXPECT_TRUE(Client.ReadDWord(1, dword));
  EXPECT_EQ(dword, 305419896u);

  SetRegisters(10, {0x0000, 0x3F80});
  float single = 0;
  EXPECT_TRUE(Client.ReadSingle(10, single));
  EXPECT_EQ(single, 1.0f);

  EXPECT_TRUE(Client.WriteDouble(20, -2.5e-3));
  double dbl = 0;
  EXPECT_TRUE(Client.ReadDouble(20, dbl));
  EXPECT_EQ(dbl, -2.5e-3);

  EXPECT_TRUE(Client.WriteSingle(30, 3.25f));
  EXPECT_EQ(Memory.Register(29), 0x0000);  // low word first
  EXPECT_EQ(Memory.Register(30), 0x4050);
  EXPECT_TRUE(Client.WriteDWord(40, 0xDEADBEEF));
  EXPECT_TRUE(Client.ReadDWord(40, dword));
  EXPECT_EQ(dword, 0xDEADBEEFu);
}

TEST_F(TypedRequests, StringsCarryTwoCharactersPerRegisterHighByteFirst) {
  SetRegisters(1, {0x4142, 0x4344, 0x4500});
  EXPECT_EQ(Client.ReadString(1, 5), "ABCDE");
  EXPECT_EQ(Client.ReadString(1, 6), std::string("ABCDE\0", 6));
  EXPECT_EQ(Client.ReadString(1, 0), "");

  EXPECT_TRUE(Client.WriteString(100, "ABC"));
  EXPECT_EQ(Memory.Register(99), 0x4142);
  EXPECT_EQ(Memory.Register(100), 0x4300);
  EXPECT_TRUE(Client.WriteString(200, "\xE8\x01z"));  // every byte value passes unchanged
  EXPECT_EQ(Client.ReadString(200, 3), "\xE8\x01z");
}

TEST_F(TypedRequests, CoilsRoundTripBitByBit) {
  const std::vector<bool> pattern{true,  false, true,  false, false,
                                  false, false, false, false, true};
  EXPECT_TRUE(Client.WriteCoils(1, 0, pattern));
  std::vector<bool> coils;
  EXPECT_TRUE(Client.ReadCoils(1, 10, coils));
  EXPECT_EQ(coils, pattern);
  std::vector<bool> inputs;
  EXPECT_TRUE(Client.ReadInputBits(3, 1, inputs));
  EXPECT_EQ(inputs, std::vector<bool>{true});

  EXPECT_TRUE(Client.WriteCoil(50, true));
  bool coil = false;
  EXPECT_TRUE(Client.ReadCoil(50, coil));
  EXPECT_TRUE(coil);
  EXPECT_TRUE(Client.WriteCoil(50, false));
  EXPECT_TRUE(Client.ReadCoil(50, coil));
  EXPECT_FALSE(coil);
}

TEST_F(TypedRequests, CallerArraysAreGrownNeverOverrun) {
  SetRegisters(1, std::vector<uint16_t>(125, 0x1111));
  std::vector<uint16_t> registers(2, 0xEEEE);  // shorter than Blocks
  EXPECT_TRUE(Client.ReadHoldingRegisters(1, 200, registers));
  ASSERT_EQ(registers.size(), 200u);
  EXPECT_EQ(registers[124], 0x1111);
  EXPECT_EQ(registers[125], 0);  // only 125 were requested
  EXPECT_EQ(registers[199], 0);

  std::vector<uint16_t> longer(6, 0xEEEE);  // elements beyond Blocks are the caller's
  EXPECT_TRUE(Client.ReadHoldingRegisters(1, 2, longer));
  EXPECT_EQ(longer, (std::vector<uint16_t>{0x1111, 0x1111, 0xEEEE, 0xEEEE, 0xEEEE, 0xEEEE}));

  std::vector<uint16_t> inputs(1, 0xEEEE);
  EXPECT_TRUE(Client.ReadInputRegisters(1, 3, inputs));
  EXPECT_EQ(inputs, std::vector<uint16_t>(3, 0x1111));

  std::vector<bool> coils;
  EXPECT_TRUE(Client.ReadCoils(1, 12, coils));
  EXPECT_EQ(coils.size(), 12u);
}

TEST_F(FailingRequests, OutArgumentsHoldZerosAfterAFailure) {
  std::vector<uint16_t> registers(3, 0xEEEE);
  EXPECT_FALSE(Client.ReadHoldingRegisters(1, 3, registers));
  EXPECT_EQ(registers, std::vector<uint16_t>(3, 0));
  std::vector<uint16_t> inputs(5, 0xEEEE);  // cleared as a whole before the request
  EXPECT_FALSE(Client.ReadInputRegisters(1, 3, inputs));
  EXPECT_EQ(inputs, std::vector<uint16_t>(5, 0));
  uint16_t reg = 0xEEEE;
  EXPECT_FALSE(Client.ReadHoldingRegister(1, reg));
  EXPECT_EQ(reg, 0);
  EXPECT_FALSE(Client.ReadInputRegister(1, reg = 0xEEEE));
  EXPECT_EQ(reg, 0);

  std::vector<bool> coils(4, true);
  EXPECT_FALSE(Client.ReadCoils(1, 4, coils));
  EXPECT_EQ(coils, std::vector<bool>(4, false));
  bool coil = true;
  EXPECT_FALSE(Client.ReadCoil(1, coil));
  EXPECT_FALSE(coil);

  uint32_t dword = 7;
  EXPECT_FALSE(Client.ReadDWord(1, dword));
  EXPECT_EQ(dword, 0u);
  float single = 7;
  EXPECT_FALSE(Client.ReadSingle(1, single));
  EXPECT_EQ(single, 0.0f);
  EXPECT_FALSE(std::signbit(single));
  double dbl = 7;
  EXPECT_FALSE(Client.ReadDouble(1, dbl));
  EXPECT_EQ(dbl, 0.0);
  EXPECT_EQ(Client.ReadString(1, 4), "");

  EXPECT_FALSE(Client.WriteRegisters(1, {1, 2}));
  EXPECT_FALSE(Client.WriteCoil(1, true));
}

TEST(IdModBusClient, DefaultsAndVersion) {
  TIdModBusClient client;
  EXPECT_TRUE(client.AutoConnect());
  EXPECT_EQ(client.BaseRegister(), 1);
  EXPECT_EQ(client.ReadTimeout(), 0);
  EXPECT_EQ(client.TimeOut(), 15000u);
  EXPECT_EQ(client.UnitID(), 255);
  EXPECT_EQ(client.Port(), 502);
  EXPECT_FALSE(client.Connected());
  client.SetVersion("9.9");
  EXPECT_EQ(client.Version(), "1.5.2");
}
