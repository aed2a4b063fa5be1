#include "SerialFrontEnd.h"

#include "ModLinkError.h"
#include "RequestLog.h"

#include <stdexcept>

namespace {

TBaudRate BaudRateOf(std::uint32_t rate) {
  for (std::size_t i = 0; i < CBaudRates.size(); ++i) {
    if (CBaudRates[i] == rate) return static_cast<TBaudRate>(i);
  }
  return brCustom;
}

TParityScheme ParityOf(char parity) {
  switch (parity) {
    case 'E': return psEven;
    case 'O': return psOdd;
    default: return psNone;
  }
}

}  // namespace

TSerialFrontEnd::TSerialFrontEnd(const TSerialSettings& settings, TMeterRegisters& registers)
    : FSettings(settings), FServer(registers) {
  FServer.SetAddress(FSettings.slaveAddress);
  FServer.SetConnection(&FConnection);
}

TSerialFrontEnd::~TSerialFrontEnd() {
  try {
    Close();
  } catch (...) {
    // Closing only ends the worker; nothing is left to report to.
  }
}

std::string TSerialFrontEnd::Framing() const { return FSettings.ascii ? "ASCII" : "RTU"; }

void TSerialFrontEnd::Open() {
  const bool pty = FSettings.port.empty();
  if (pty) {
    FTerminal.Open();
    FPath = FTerminal.Path();
    FConnection.SetHookExistingPort(true);
    FConnection.OnGetHookedPortHandle = [this](TModbusConnection&, TNativeHandle& handle) {
      handle = FTerminal.Master();
    };
  } else {
    FPath = FSettings.port;
    FConnection.SetPort(FSettings.port);
  }
  FConnection.SetConnectionMode(cmServer);
  FConnection.SetTransmissionMode(FSettings.ascii ? tmASCII : tmRTU);
  const TBaudRate rate = BaudRateOf(FSettings.baudRate);
  if (rate == brCustom) {
    FConnection.SetCustomBaudRate(FSettings.baudRate);
  } else {
    FConnection.SetBaudRate(rate);
  }
  FConnection.SetParity(ParityOf(FSettings.parity));
  FConnection.SetStopBits(FSettings.stopBits == 2 ? sb2 : sb1);
  FConnection.SetDataBits(db8);
  if (OnLog) {
    FConnection.OnFrameReceive = [this](TModbusConnection&, const TFrameData& raw) {
      FLastQuery = PduOfRawFrame(raw);
    };
    FConnection.OnFrameSend = [this](TModbusConnection&, const TFrameData& raw) {
      if (!OnLog) return;  // cleared while the last notices were still on their way
      OnLog("serial slave " + std::to_string(FSettings.slaveAddress) + ": " +
            DescribeExchange(FLastQuery, PduOfRawFrame(raw)));
    };
  }
  try {
    FConnection.Open();
  } catch (const std::exception& e) {
    // The library's message names the port and the system's reason itself.
    const std::string reason = e.what();
    FTerminal.Close();
    throw std::runtime_error("cannot open the serial port " + FPath + ": " + reason);
  }
}

void TSerialFrontEnd::Close() {
  FConnection.Close();
  FTerminal.Close();
}

std::vector<std::uint8_t> TSerialFrontEnd::PduOfRawFrame(const TFrameData& raw) const {
  TModbusBuffer frame(FConnection.DetermineMaximumFrameSize());
  if (raw.empty() ||
      !FConnection.DecodeFrame(raw.data(), frame, static_cast<int>(raw.size()))) {
    return {};
  }
  const int start = FConnection.DetermineHeaderSize();
  const int end = frame.Size() - FConnection.DetermineErrorCheckSize();
  if (end <= start) return {};
  return {frame.StartPtr() + start, frame.StartPtr() + end};
}

std::vector<std::uint8_t> TSerialFrontEnd::AnswerPdu(std::span<const std::uint8_t> pdu) {
  const int header = FConnection.DetermineHeaderSize();
  const int check = FConnection.DetermineErrorCheckSize();
  TModbusTransaction transaction(FConnection.DetermineMaximumFrameSize());
  if (pdu.empty() || static_cast<int>(pdu.size()) + header + check > transaction.QueryBuffer.Capacity()) {
    return {};
  }
  // The query as it would arrive on the line, addressed to our slave.
  TModbusBuffer& query = transaction.QueryBuffer;
  query.PutByte(FServer.Address());
  query.PutBlock(pdu.data(), static_cast<int>(pdu.size()));
  FConnection.EmitErrorCheck(query);
  transaction.Info.Address = FServer.Address();
  FServer.ProcessTransaction(transaction);

  const TModbusBuffer& reply = transaction.ReplyBuffer;
  const int end = reply.Size() - check;
  if (end <= header) return {};
  return {reply.StartPtr() + header, reply.StartPtr() + end};
}
