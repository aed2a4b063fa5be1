// Soak: 10,000 transactions against a slave that injects faults at random (silence, garbage,
// frames from other servers, cut-off frames, exception replies). Every transaction must be
// reported exactly once, with the values the slave sent when the reply was normal. ASCII
// framing ends each frame at its LF, so the run is quick; under AddressSanitizer it also
// shows that nothing leaks on any path.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "ClientTestSupport.h"

namespace {

using namespace serialtest;

constexpr int TransactionCount = 10000;
constexpr int BatchSize = 100;

std::uint16_t ValueAt(int Register) {
  return static_cast<std::uint16_t>(Register * 7 + 1);
}

// The answer to one holding-register query, chosen at random.
std::vector<TChunk> Answer(const TBytes& Raw, std::mt19937& Random) {
  const TBytes Query = Pdu(Raw, true);
  if (Query.size() != 6) return {};
  const int Start = Query[2] << 8 | Query[3];
  const int Count = Query[4] << 8 | Query[5];
  TBytes Reply = {Query[0], 3, static_cast<std::uint8_t>(2 * Count)};
  for (int i = 0; i < Count; ++i) {
    Reply.push_back(static_cast<std::uint8_t>(ValueAt(Start + i) >> 8));
    Reply.push_back(static_cast<std::uint8_t>(ValueAt(Start + i) & 0xFF));
  }
  // Per mille: a frame cut off before CR LF waits out the one-second gap ASCII allows
  // between characters, so it is the rarest fault.
  const int Dice = static_cast<int>(Random() % 1000);
  if (Dice < 10) return {};  // silence
  if (Dice < 40) {           // bad LRC
    TBytes Bad = Ascii(Reply);
    std::uint8_t& LrcDigit = Bad.at(Bad.size() - 3);
    LrcDigit = LrcDigit == '0' ? '1' : '0';
    return {{0, Bad}};
  }
  if (Dice < 60) return {{0, TBytes{'x', 0x00, 0xFF, '\r', '\n'}}};  // noise without a colon
  if (Dice < 61) {                                                   // cut off before CR LF
    TBytes Cut = Ascii(Reply);
    Cut.resize(Cut.size() / 2);
    return {{0, Cut}};
  }
  if (Dice < 101) {  // another server first
    TBytes Other = {static_cast<std::uint8_t>(Query[0] + 1)};
    Other.insert(Other.end(), Reply.begin() + 1, Reply.end());
    return {{0, Ascii(Other)}, {0, Ascii(Reply)}};
  }
  if (Dice < 151)
    return {{0, Ascii({Query[0], 0x83, static_cast<std::uint8_t>(1 + Random() % 8)})}};
  return {{0, Ascii(Reply)}};
}

TEST(TransactionSoak, EveryTransactionReportedExactlyOnce) {
  TClientRig Rig(tmASCII);
  Rig.Connection.SetReceiveTimeout(20);
  Rig.Connection.SetSilentInterval(16);
  Rig.Connection.SetMaxRetries(2);
  std::mt19937 Random(20261208);
  TScriptedSlave Slave(Rig.Pty.Master(), true,
                       [&Random](const TBytes& Q) { return Answer(Q, Random); });

  std::map<std::uint32_t, int> Reports;
  std::map<TServerReply, int> Outcomes;
  int BadValues = 0;
  Rig.Client.OnHoldingRegistersRead = [&](auto&, const TTransactionInfo& Info, std::uint16_t Start,
                                          std::uint16_t Count, const TRegValues& Values) {
    ++Reports[Info.ID];
    ++Outcomes[Info.Reply];
    if (Values.size() != Count) ++BadValues;
    for (int i = 0; i < static_cast<int>(Values.size()); ++i) {
      const std::uint16_t Expected = Info.Reply == srNormalReply ? ValueAt(Start + i) : 0;
      if (Values[static_cast<std::size_t>(i)] != Expected) ++BadValues;
    }
  };
  Rig.Connection.Open();

  int Made = 0;
  while (Made < TransactionCount) {
    for (int i = 0; i < BatchSize; ++i, ++Made)
      Rig.Client.ReadHoldingRegisters(static_cast<std::uint16_t>(Made % 1000),
                                      static_cast<std::uint16_t>(1 + Made % 125));
    const auto Reported = [&] { return Reports.size() == static_cast<std::size_t>(Made); };
    ASSERT_TRUE(TClientRig::RunUntil(Reported, 60s)) << "lost after " << Reports.size();
  }

  EXPECT_EQ(Reports.size(), static_cast<std::size_t>(TransactionCount));
  for (const auto& [ID, Count] : Reports) ASSERT_EQ(Count, 1) << "transaction " << ID;
  EXPECT_EQ(BadValues, 0);
  // Every kind of outcome occurred, and most transactions went through.
  EXPECT_GT(Outcomes[srNormalReply], TransactionCount * 3 / 4);
  EXPECT_GT(Outcomes[srExceptionReply], 0);
  EXPECT_GT(Outcomes[srInvalidFrame], 0);
}

}  // namespace
