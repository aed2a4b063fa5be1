#include "WriteFrame.h"

#include "ErrorChecks.h"

namespace {

void PutWord(std::vector<std::uint8_t>& Bytes, std::uint16_t Word) {
  Bytes.push_back(static_cast<std::uint8_t>(Word >> 8));
  Bytes.push_back(static_cast<std::uint8_t>(Word & 0xFF));
}

}  // namespace

std::vector<std::uint8_t> WriteRequestPdu(std::uint16_t Start,
                                          const std::vector<std::uint16_t>& Words, bool Single) {
  std::vector<std::uint8_t> pdu;
  if (Single) {
    pdu.push_back(6);
    PutWord(pdu, Start);
    PutWord(pdu, Words.empty() ? 0 : Words.front());
    return pdu;
  }
  pdu.push_back(16);
  PutWord(pdu, Start);
  PutWord(pdu, static_cast<std::uint16_t>(Words.size()));
  pdu.push_back(static_cast<std::uint8_t>(Words.size() * 2));
  for (std::uint16_t word : Words) PutWord(pdu, word);
  return pdu;
}

std::vector<std::uint8_t> TcpFrame(const std::vector<std::uint8_t>& Pdu,
                                   std::uint16_t TransactionId, std::uint8_t UnitId) {
  std::vector<std::uint8_t> frame;
  PutWord(frame, TransactionId);
  PutWord(frame, 0);  // protocol identifier: Modbus
  PutWord(frame, static_cast<std::uint16_t>(Pdu.size() + 1));
  frame.push_back(UnitId);
  frame.insert(frame.end(), Pdu.begin(), Pdu.end());
  return frame;
}

std::vector<std::uint8_t> RtuFrame(const std::vector<std::uint8_t>& Pdu, std::uint8_t Slave) {
  // Reserved first: g++ 12 at -O3 warns falsely (-Warray-bounds) on an insert
  // that grows a vector of one byte.
  std::vector<std::uint8_t> frame;
  frame.reserve(Pdu.size() + 3);
  frame.push_back(Slave);
  frame.insert(frame.end(), Pdu.begin(), Pdu.end());
  const std::uint16_t crc = CRC16(frame.data(), frame.size());
  frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  frame.push_back(static_cast<std::uint8_t>(crc >> 8));
  return frame;
}

std::string HexBytes(const std::vector<std::uint8_t>& Bytes) {
  static constexpr char HEX[] = "0123456789ABCDEF";
  std::string text;
  for (std::uint8_t byte : Bytes) {
    if (!text.empty()) text += ' ';
    text += HEX[byte >> 4];
    text += HEX[byte & 0xF];
  }
  return text;
}
