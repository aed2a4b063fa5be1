#pragma once
// The frames a register write sends, made before it is sent so that the user
// can see them first (the window's write dialog, the poller's --dry-run).

#include <cstdint>
#include <string>
#include <vector>

// The request PDU: function 16 (Write Multiple Registers) with the start,
// the count, the byte count and the words, or function 6 (Write Single
// Register) with the address and the one word when Single.
std::vector<std::uint8_t> WriteRequestPdu(std::uint16_t Start,
                                          const std::vector<std::uint16_t>& Words, bool Single);

// The PDU in a Modbus TCP frame (7-byte header) or an RTU frame (slave
// address first, CRC-16 low byte first after it).
std::vector<std::uint8_t> TcpFrame(const std::vector<std::uint8_t>& Pdu,
                                   std::uint16_t TransactionId, std::uint8_t UnitId);
std::vector<std::uint8_t> RtuFrame(const std::vector<std::uint8_t>& Pdu, std::uint8_t Slave);

// "10 0B B8 00 02": the bytes in uppercase hex, one blank apart.
std::string HexBytes(const std::vector<std::uint8_t>& Bytes);
