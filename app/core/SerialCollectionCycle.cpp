#include "SerialCollectionCycle.h"

#include <algorithm>
#include <exception>
#include <limits>

#include "Commons.h"
#include "ModLinkError.h"
#include "SerialOpenFailure.h"
#include "TcpCollectionCycle.h"
#include "ValueDecoding.h"

std::string SerialExceptionText(TServerException Exception) {
  switch (Exception) {
    case seIllegalCommand:
      return "Comando Illegale";
    case seIllegalDataAddress:
      return "Indirizzo Illegale";
    case seIllegalDataValue:
      return "Valore Illegale";
    case seServerFailure:
      return "Fallimento del Server";
    case seAcknowledge:
      return "Acknowledge";
    case seServerBusy:
      return "Server Occupato";
    case seNegativeAcknowledge:
      return "Acknowledge negativo";
    case seMemoryParityError:
      return "Errore di Parità";
    case seUnknown:
      break;
  }
  return "Sconosciuta";
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
      return SERVER_EXCEPTION_PREFIX + SerialExceptionText(Info.Exception);
    case srNormalReply:
      return {};
  }
  return NO_REPLY_TEXT;
}

TSerialCollectionCycle::TSerialCollectionCycle(TModbusConnection& Connection, TModbusClient& Client,
                                               TRegisterMap& Map, TSettingsSource Settings)
    : FConnection(Connection), FClient(Client), FMap(Map), FSettings(std::move(Settings)) {
  FClient.SetConnection(&FConnection);
  FClient.OnHoldingRegistersRead = [this](TModbusClient& Sender, const TTransactionInfo& Info,
                                          std::uint16_t StartReg, std::uint16_t RegCount,
                                          const TRegValues& RegValues) {
    ModbusClient1HoldingRegistersRead(Sender, Info, StartReg, RegCount, RegValues);
  };
}

TSerialCollectionCycle::~TSerialCollectionCycle() {
  FClient.OnHoldingRegistersRead = nullptr;
}

void TSerialCollectionCycle::ShowError(const std::string& Text) {
  if (OnShowError) OnShowError(Text);
}

void TSerialCollectionCycle::UpdateGridData(bool DataAvail, bool Float32) {
  if (OnUpdateGridData)
    OnUpdateGridData(DataAvail);
  else
    FMap.UpdateGridData(DataAvail, Float32);
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

bool TSerialCollectionCycle::PollSerialUpdate() {
  const bool result = CollectDataSerial();
  if (!result) UpdateGridData(false, FSettings().Float32);
  return result;
}

bool TSerialCollectionCycle::CollectDataSerial() {
  FLastError.clear();
  const TSerialCycleSettings settings = FSettings();

  // A map wider than 65535 registers is asked for as 65535 rather than cut to
  // 16 bits, so the library refuses it by its register limit instead of
  // reading a few registers and showing them as the whole map.
  const std::int32_t spanned = SpannedRegisters(settings);
  const auto count = static_cast<std::uint16_t>(
      spanned < 0 ? 0 : std::min<std::int32_t>(spanned, std::numeric_limits<std::uint16_t>::max()));

  // Outside the guard: a failure here belongs to the caller's general report.
  FConnection.SetPort(settings.Port);
  FConnection.SetBaudRate(settings.BaudRate);
  FConnection.SetParity(settings.Parity);
  FConnection.SetStopBits(sb1);
  FConnection.SetFrameEndByLength(settings.FrameEndByLength);
  FClient.SetServerAddress(static_cast<std::uint8_t>(StrToInt(settings.SlaveAddressText) & 0xFF));
  FMap.SetBaseAddress(BaseAddressFor(TMapSettings{settings.Float32, settings.MeterInstanceIndex}));

  const bool wasOpen = FConnection.Active();
  try {
    FConnection.Open();
    FLastRequestID = FClient.ReadHoldingRegisters(FMap.BaseAddress(), count, nullptr);
    return true;
  } catch (const std::exception& error) {
    // A refused request leaves no reply that would close the port again.
    if (!wasOpen && FConnection.Active()) CloseQuietly();
    FLastError = error.what();
    // The library names neither the port nor the reason; the operator needs both.
    if (FLastError == ModLinkMessages::SCouldNotOpenPort)
      FLastError = SerialOpenFailureText(FLastError, settings.Port);
    ShowError(FLastError);
    return false;
  }
}

void TSerialCollectionCycle::ModbusClient1HoldingRegistersRead(TModbusClient&,
                                                               const TTransactionInfo& Info,
                                                               std::uint16_t StartReg,
                                                               std::uint16_t RegCount,
                                                               const TRegValues& RegValues) {
  const TSerialCycleSettings settings = FSettings();
  FDecoded = false;
  FDataAvailable = false;

  if (Info.Reply == srNormalReply) {
    // A reply to a request made for another meter instance or another layout
    // (the options changed while it was on its way) would label its values
    // with the wrong addresses and decode them with the wrong types: it is
    // left out, and the grid keeps what it shows.
    const bool currentLayout =
        StartReg == BaseAddressFor(TMapSettings{settings.Float32, settings.MeterInstanceIndex}) &&
        static_cast<std::int32_t>(RegCount) == SpannedRegisters(settings) &&
        RegValues.size() >= RegCount;
    if (currentLayout) {
      if (OnHideError) OnHideError();
      FMap.SetBaseAddress(StartReg);
      // The firmware-version entry that tells whether the meter instance
      // answers exists only in the normal map; the QVZT map shows every value.
      const EDecodePath path = settings.QvztMode ? EDecodePath::dpTCP : EDecodePath::dpSerial;
      DecodeRegisters(
          FMap, RegValues,
          TDecodeOptions{ByteSequenceFor(settings.QvztMode, settings.BytesSequenceIndex),
                         settings.Float32, path, settings.DecimalSeparator});
      FDecoded = true;
      FDataAvailable =
          settings.QvztMode || (!FMap.Regs().empty() && FMap.Regs().front().regType == eWord &&
                                !RegValues.empty() && RegValues.front() != 0xFFFF);
      UpdateGridData(true, settings.Float32);
    }
  } else {
    ShowError(ServerReplyText(Info));
    UpdateGridData(false, settings.Float32);
  }

  if (Info.ID == FLastRequestID) FConnection.Close();
  if (OnReplyHandled) OnReplyHandled(Info);
}
