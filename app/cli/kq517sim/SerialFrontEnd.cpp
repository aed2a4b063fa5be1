#include "SerialFrontEnd.h"

#include <cstring>
#include <stdexcept>

#include "ModLinkError.h"
#include "RequestLog.h"
#include "SerialLine.h"

namespace {

TParityScheme ParityOf(char parity) {
  switch (parity) {
    case 'E':
      return psEven;
    case 'O':
      return psOdd;
    default:
      return psNone;
  }
}

}  // namespace

TSerialFrontEnd::TSerialFrontEnd(const TSerialSettings& settings, TMeterRegisters& registers)
    : FSettings(settings), FServer(registers), FPduTransaction(MaxFrameADUSizeRTU) {
  FPduTransaction.ErrorCheck = false;
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

std::string TSerialFrontEnd::Framing() const {
  return FSettings.ascii ? "ASCII" : "RTU";
}

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
  SetBitRate(FConnection, FSettings.baudRate);
  FConnection.SetParity(ParityOf(FSettings.parity));
  FConnection.SetStopBits(FSettings.stopBits == 2 ? sb2 : sb1);
  FConnection.SetDataBits(FSettings.dataBits);
  FConnection.SetFrameEndByLength(FSettings.frameEndByLength);
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
  if (raw.empty() || !FConnection.DecodeFrame(raw.data(), frame, static_cast<int>(raw.size()))) {
    return {};
  }
  const int start = FConnection.DetermineHeaderSize();
  const int end = frame.Size() - FConnection.DetermineErrorCheckSize();
  if (end <= start) return {};
  return {frame.StartPtr() + start, frame.StartPtr() + end};
}

std::vector<std::uint8_t> TSerialFrontEnd::AnswerPdu(std::span<const std::uint8_t> pdu) {
  std::uint8_t reply[MaxFramePDUSize];
  const std::size_t size = AnswerPdu(pdu, reply);
  return {reply, reply + size};
}

std::size_t TSerialFrontEnd::AnswerPdu(std::span<const std::uint8_t> pdu,
                                       std::span<std::uint8_t> reply) {
  TModbusTransaction& transaction = FPduTransaction;
  TModbusBuffer& query = transaction.QueryBuffer;
  // The address and the PDU, as the query arrives on the line but for its check.
  if (pdu.empty() || static_cast<int>(pdu.size()) + 1 > query.Capacity()) return 0;
  query.SetSize(0);
  query.Seek(smBufStart);
  query.PutByte(FServer.Address());
  query.PutBlock(pdu.data(), static_cast<int>(pdu.size()));
  transaction.ReplyBuffer.SetSize(0);
  transaction.Info.Address = FServer.Address();
  FServer.ProcessTransaction(transaction);

  const TModbusBuffer& answer = transaction.ReplyBuffer;
  const int header = FConnection.DetermineHeaderSize();
  if (answer.Size() <= header) return 0;
  const auto size = static_cast<std::size_t>(answer.Size() - header);
  if (size > reply.size()) return 0;
  std::memcpy(reply.data(), answer.StartPtr() + header, size);
  return size;
}
