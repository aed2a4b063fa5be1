#include "SerialCollectionCycle.h"

#include <algorithm>
#include <exception>
#include <limits>

#include "MeterPresence.h"
#include "ModLinkConsts.h"
#include "ModLinkError.h"
#include "SerialLine.h"
#include "SerialOpenFailure.h"
#include "TcpCollectionCycle.h"
#include "ValueDecoding.h"

std::string SerialExceptionText(TServerException Exception) {
  // The library's classification is the Modbus exception code.
  return ServerExceptionText(static_cast<std::uint8_t>(Exception));
}

std::string ServerReplyText(const TTransactionInfo& Info) {
  switch (Info.Reply) {
    case srNone:
      return NO_REPLY_TEXT;
    case srInvalidFrame:
      return INVALID_FRAME_TEXT;
    case srUnexpectedReply:
      return UNEXPECTED_REPLY_TEXT;
    case srUnmatchedReply:
      return UNMATCHED_REPLY_TEXT;
    case srExceptionReply:
      return std::string(SERVER_EXCEPTION_PREFIX) + SerialExceptionText(Info.Exception);
    case srNormalReply:
      return {};
  }
  return NO_REPLY_TEXT;
}

TSerialCollectionCycle::TSerialCollectionCycle(TModbusConnection& Connection, TModbusClient& Client,
                                               TRegisterMap& Map, TSettingsSource Settings)
    : FConnection(Connection), FClient(Client), FMap(Map), FSettings(std::move(Settings)) {
  FClient.SetConnection(&FConnection);
  const auto registersRead = [this](TModbusClient&, const TTransactionInfo& Info,
                                    std::uint16_t StartReg, std::uint16_t RegCount,
                                    const TRegValues& RegValues) {
    HoldingRegistersRead(Info, StartReg, RegCount, RegValues);
  };
  FClient.OnHoldingRegistersRead = registersRead;
  FClient.OnInputRegistersRead = registersRead;
}

TSerialCollectionCycle::~TSerialCollectionCycle() {
  FClient.OnHoldingRegistersRead = nullptr;
  FClient.OnInputRegistersRead = nullptr;
}

void TSerialCollectionCycle::Ended(const TCycleOutcome& Outcome) {
  if (OnCycleEnded) OnCycleEnded(Outcome);
}

std::uint32_t TSerialCollectionCycle::ReadBlock(EReadFunction Function, std::uint16_t Address,
                                                std::uint16_t Count) {
  return Function == EReadFunction::rfInputRegisters
             ? FClient.ReadInputRegisters(Address, Count, nullptr)
             : FClient.ReadHoldingRegisters(Address, Count, nullptr);
}

void TSerialCollectionCycle::CloseQuietly() {
  try {
    FConnection.Close();
  } catch (...) {
    // The port is released by the device anyway; the failure the caller is
    // already reporting is the one the operator needs to see.
  }
}

std::int32_t TSerialCollectionCycle::SpannedRegisters(const TSerialCycleSettings& Settings) const {
  return FMap.MBRegCount() - (Settings.Float32 ? FMap.MBFPRegSingleDelta() : 0);
}

void TSerialCollectionCycle::StartPoll() {
  if (FConnection.Active()) FConnection.Close();
}

bool TSerialCollectionCycle::CollectDataSerial() {
  const TSerialCycleSettings settings = FSettings();
  const auto started = std::chrono::system_clock::now();

  // A map wider than 65535 registers is asked for as 65535 rather than cut to
  // 16 bits, so that it is refused instead of reading a few registers and
  // showing them as the whole map.
  const std::int32_t spanned = SpannedRegisters(settings);
  const auto count = static_cast<std::uint16_t>(
      spanned < 0 ? 0 : std::min<std::int32_t>(spanned, std::numeric_limits<std::uint16_t>::max()));

  // Outside the guard: a failure here belongs to the caller's general report.
  FConnection.SetPort(settings.Port);
  SetBitRate(FConnection, settings.BitRate);
  FConnection.SetParity(settings.Parity);
  FConnection.SetDataBits(settings.DataBits);
  FConnection.SetStopBits(settings.StopBits);
  FConnection.SetTransmissionMode(settings.Mode);
  FConnection.SetFrameEndByLength(settings.FrameEndByLength);
  FClient.SetServerAddress(settings.SlaveAddress);
  FMap.SetBaseAddress(BaseAddressFor(TMapSettings{settings.Float32, settings.MeterInstanceIndex}));

  const bool wasOpen = FConnection.Active();
  // A block read still in flight was made for an earlier tick: its replies
  // are left out from here on.
  FBlocks.reset();
  try {
    FConnection.Open();
    FLastRequestTime = started;
    FLastRequestSettings = settings;
    if (count <= MaxReadRegisterCount ||
        static_cast<std::uint32_t>(FMap.BaseAddress()) + count > 65536u) {
      // Within one request it goes on the wire as it always did; past the
      // last register the library names the fault.
      FLastRequestID = ReadBlock(settings.Function, FMap.BaseAddress(), count);
    } else {
      FBlocks = TBlockRead{FMap.BaseAddress(), count, {}};
      FBlocks->Words.reserve(count);
      const std::uint16_t first = MaxReadRegisterCount;
      FLastRequestID = ReadBlock(settings.Function, FMap.BaseAddress(), first);
    }
    return true;
  } catch (const std::exception& error) {
    FBlocks.reset();
    // A refused request leaves no reply that would close the port again.
    if (!wasOpen && FConnection.Active()) CloseQuietly();
    EndUnqueued(settings, started, error.what());
    return false;
  }
}

void TSerialCollectionCycle::EndUnqueued(const TSerialCycleSettings& Settings,
                                         std::chrono::system_clock::time_point Started,
                                         const std::string& Error) {
  TCycleOutcome outcome;
  outcome.Time = Started;
  outcome.MeterInstanceIndex = Settings.MeterInstanceIndex;
  outcome.BaseAddress = FMap.BaseAddress();
  outcome.EndsPoll = true;
  outcome.Error = Error;
  // The library names neither the port nor the reason; the operator needs both.
  if (outcome.Error == ModLinkMessages::SCouldNotOpenPort)
    outcome.Error = SerialOpenFailureText(outcome.Error, Settings.Port);
  outcome.Entries = MapReadings(FMap, false);
  Ended(outcome);
}

bool TSerialCollectionCycle::QueueNextBlock() {
  const auto next = static_cast<std::uint32_t>(FBlocks->Words.size());
  const auto block = static_cast<std::uint16_t>(
      std::min<std::uint32_t>(FBlocks->Count - next, MaxReadRegisterCount));
  try {
    FLastRequestID = ReadBlock(FLastRequestSettings.Function,
                               static_cast<std::uint16_t>(FBlocks->Base + next), block);
    return true;
  } catch (const std::exception& error) {
    FBlocks.reset();
    CloseQuietly();
    EndUnqueued(FLastRequestSettings, FLastRequestTime, error.what());
    return false;
  }
}

void TSerialCollectionCycle::HoldingRegistersRead(const TTransactionInfo& Info,
                                                  std::uint16_t StartReg, std::uint16_t RegCount,
                                                  const TRegValues& RegValues) {
  if (!FBlocks || Info.ID != FLastRequestID) {
    TakeReply(Info, StartReg, RegCount, RegValues, std::nullopt);
    return;
  }
  if (Info.Reply != srNormalReply || RegValues.size() < RegCount) {
    FBlocks.reset();
    TakeReply(Info, StartReg, RegCount, RegValues,
              TCycleOutcome::TRegisterRange{StartReg,
                                            static_cast<std::uint16_t>(StartReg + RegCount - 1)});
    return;
  }
  FBlocks->Words.insert(FBlocks->Words.end(), RegValues.begin(), RegValues.begin() + RegCount);
  if (FBlocks->Words.size() < FBlocks->Count) {
    QueueNextBlock();
    return;
  }
  const TBlockRead read = std::move(*FBlocks);
  FBlocks.reset();
  TakeReply(Info, read.Base, static_cast<std::uint16_t>(read.Count), read.Words, std::nullopt);
}

void TSerialCollectionCycle::TakeReply(const TTransactionInfo& Info, std::uint16_t StartReg,
                                       std::uint16_t RegCount, const TRegValues& RegValues,
                                       std::optional<TCycleOutcome::TRegisterRange> FailedBlock) {
  TSerialCycleSettings settings = FLastRequestSettings;
  try {
    settings = FSettings();
  } catch (const std::exception&) {
    // A reply is no place to report a field: the next request will.
  }
  TCycleOutcome outcome;
  outcome.Time = Info.ID == FLastRequestID ? FLastRequestTime : std::chrono::system_clock::now();
  outcome.MeterInstanceIndex = settings.MeterInstanceIndex;
  outcome.BaseAddress = StartReg;
  bool ended = true;

  if (Info.Reply == srNormalReply) {
    // A reply to a request made for another meter instance or another layout
    // (the options changed while it was on its way) would label its values
    // with the wrong addresses and decode them with the wrong types: it is
    // left out, and the grid keeps what it shows.
    ended =
        StartReg == BaseAddressFor(TMapSettings{settings.Float32, settings.MeterInstanceIndex}) &&
        static_cast<std::int32_t>(RegCount) == SpannedRegisters(settings) &&
        RegValues.size() >= RegCount;
    if (ended) {
      FMap.SetBaseAddress(StartReg);
      // The firmware-version entry that tells whether the meter instance
      // answers exists only in the normal map; the QVZT map shows every value.
      const EDecodePath path = settings.QvztMode ? EDecodePath::dpTCP : EDecodePath::dpSerial;
      DecodeRegisters(
          FMap, RegValues,
          TDecodeOptions{ByteSequenceFor(settings.QvztMode, settings.BytesSequenceIndex),
                         settings.Float32, path});
      outcome.Words = RegValues;
      outcome.MeterAbsent = MeterInstanceAbsent(FMap.Regs(), RegValues);
      outcome.Ok = !outcome.MeterAbsent;
      outcome.Entries = MapReadings(FMap, true);
    }
  } else {
    outcome.Error = ServerReplyText(Info);
    outcome.FailedBlock = FailedBlock;
    outcome.Entries = MapReadings(FMap, false);
  }

  if (ended) Ended(outcome);
  const bool keptOpen = FLastRequestSettings.LeaveStreamOpen && FConnection.OverTcpStream();
  if (Info.ID == FLastRequestID && !keptOpen) FConnection.Close();
}
