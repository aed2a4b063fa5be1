// Serial Modbus frames written out by hand for the tests: the CRC and the LRC computed bit
// by bit, independently of the library's tables, and the RTU and ASCII line images built
// from them.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace serialtest {

using TBytes = std::vector<std::uint8_t>;

inline std::uint16_t ReferenceCrc16(const TBytes& Data) {
  std::uint16_t Crc = 0xFFFF;
  for (const std::uint8_t Byte : Data) {
    Crc = static_cast<std::uint16_t>(Crc ^ Byte);
    for (int Bit = 0; Bit < 8; ++Bit)
      Crc = static_cast<std::uint16_t>((Crc & 1) ? (Crc >> 1) ^ 0xA001 : Crc >> 1);
  }
  return Crc;
}

inline std::uint8_t ReferenceLrc(const TBytes& Data) {
  unsigned Sum = 0;
  for (const std::uint8_t Byte : Data) Sum += Byte;
  return static_cast<std::uint8_t>(0x100 - (Sum & 0xFF));
}

// Address, function and data with the RTU CRC appended, low byte first.
inline TBytes Rtu(TBytes Pdu) {
  const std::uint16_t Crc = ReferenceCrc16(Pdu);
  Pdu.push_back(static_cast<std::uint8_t>(Crc & 0xFF));
  Pdu.push_back(static_cast<std::uint8_t>(Crc >> 8));
  return Pdu;
}

// ":" + hex of the bytes and their LRC + CR LF.
inline TBytes Ascii(TBytes Pdu) {
  Pdu.push_back(ReferenceLrc(Pdu));
  static const char* const Digits = "0123456789ABCDEF";
  TBytes Text = {':'};
  for (const std::uint8_t Byte : Pdu) {
    Text.push_back(static_cast<std::uint8_t>(Digits[Byte >> 4]));
    Text.push_back(static_cast<std::uint8_t>(Digits[Byte & 0x0F]));
  }
  Text.push_back('\r');
  Text.push_back('\n');
  return Text;
}

// The binary bytes of an RTU frame without its CRC, or of an ASCII frame without its LRC;
// empty when an ASCII frame holds anything but hexadecimal digit pairs.
inline TBytes Pdu(const TBytes& Raw, bool AsciiMode) {
  if (!AsciiMode) return Raw.size() < 2 ? TBytes{} : TBytes(Raw.begin(), Raw.end() - 2);
  const auto Nibble = [](std::uint8_t C) -> int {
    if (C >= '0' && C <= '9') return C - '0';
    if (C >= 'A' && C <= 'F') return C - 'A' + 10;
    return -1;
  };
  TBytes Binary;
  if (Raw.size() < 5 || Raw.front() != ':' || Raw.size() % 2 == 0) return {};
  for (std::size_t i = 1; i + 3 < Raw.size(); i += 2) {
    const int High = Nibble(Raw[i]), Low = Nibble(Raw[i + 1]);
    if (High < 0 || Low < 0) return {};
    Binary.push_back(static_cast<std::uint8_t>(High << 4 | Low));
  }
  Binary.pop_back();  // the LRC
  return Binary;
}

inline TBytes Bytes(std::initializer_list<int> Values) {
  TBytes Result;
  for (int v : Values) Result.push_back(static_cast<std::uint8_t>(v));
  return Result;
}

inline TBytes Bytes(const std::string& Text) {
  return TBytes(Text.begin(), Text.end());
}

}  // namespace serialtest
