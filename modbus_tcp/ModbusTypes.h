#pragma once
// Byte images of Modbus TCP frames. A two-byte field holds the two frame
// bytes exactly as they stand on the wire in memory order, so the code that
// fills or reads a field swaps bytes where the wire is big-endian
// (see Swap16 in ModbusUtils.h).

#include <array>
#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)

// The 7-byte application header (MBAP) in front of every frame.
struct TModBusHeader {
  uint16_t TransactionID;
  uint16_t ProtocolID;
  uint16_t RecLength;  // bytes after this field: unit identifier, function code, data
  uint8_t UnitID;
};

// Data part of the protocol data unit, indexed from 0.
inline constexpr std::size_t ModBusDataBufferSize = 261;
using TModBusDataBuffer = std::array<uint8_t, ModBusDataBufferSize>;

struct TModBusRequestBuffer {
  TModBusHeader Header;
  uint8_t FunctionCode;
  TModBusDataBuffer MBPData;
};

struct TModBusResponseBuffer {
  TModBusHeader Header;
  uint8_t FunctionCode;
  TModBusDataBuffer MBPData;
};

#pragma pack(pop)

static_assert(sizeof(TModBusHeader) == 7);
static_assert(sizeof(TModBusDataBuffer) == 261);
static_assert(sizeof(TModBusRequestBuffer) == 269);
static_assert(sizeof(TModBusResponseBuffer) == 269);
static_assert(offsetof(TModBusHeader, RecLength) == 4);
static_assert(offsetof(TModBusHeader, UnitID) == 6);
static_assert(offsetof(TModBusResponseBuffer, FunctionCode) == 7);
static_assert(offsetof(TModBusResponseBuffer, MBPData) == 8);

// Bytes on the wire up to and including the RecLength field; RecLength counts
// what follows.
inline constexpr std::size_t ModBusHeaderLengthPrefix = 6;
// Largest RecLength that fits a frame record.
inline constexpr uint16_t ModBusMaxRecLength =
    static_cast<uint16_t>(sizeof(TModBusResponseBuffer) - ModBusHeaderLengthPrefix);
