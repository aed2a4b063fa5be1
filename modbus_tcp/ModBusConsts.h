#pragma once
// Constants of the Modbus TCP client: port, unit identifier, protocol
// identifier, function codes and the exception codes a server may answer with.

#include <cstdint>

// Well-known Modbus TCP port.
inline constexpr uint16_t MB_PORT = 502;
// Unit identifier for a server that is not a gateway and ignores the field.
inline constexpr uint8_t MB_IGNORE_UNITID = 255;
// Protocol identifier of Modbus in the application header.
inline constexpr uint16_t MB_PROTOCOL = 0;

// Function codes.
inline constexpr uint8_t mbfReadCoils = 1;
inline constexpr uint8_t mbfReadInputBits = 2;
inline constexpr uint8_t mbfReadHoldingRegs = 3;
inline constexpr uint8_t mbfReadInputRegs = 4;
inline constexpr uint8_t mbfWriteOneCoil = 5;
inline constexpr uint8_t mbfWriteOneReg = 6;
inline constexpr uint8_t mbfWriteCoils = 15;
inline constexpr uint8_t mbfWriteRegs = 16;
// Declared for completeness; this client does not send them.
inline constexpr uint8_t mbfReadFileRecord = 20;
inline constexpr uint8_t mbfWriteFileRecord = 21;
inline constexpr uint8_t mbfMaskWriteReg = 22;
inline constexpr uint8_t mbfReadWriteRegs = 23;
inline constexpr uint8_t mbfReadFiFoQueue = 24;

// Largest number of registers in one request.
inline constexpr uint16_t MaxBlockLength = 125;
// Largest number of coils or discrete inputs in one request of this client.
inline constexpr uint16_t MaxCoilBlockLength = 250;

// Exception codes as they arrive in an exception reply.
inline constexpr uint8_t mbeOk = 0;
inline constexpr uint8_t mbeIllegalFunction = 1;
inline constexpr uint8_t mbeIllegalRegister = 2;
inline constexpr uint8_t mbeIllegalDataValue = 3;
inline constexpr uint8_t mbeServerFailure = 4;
inline constexpr uint8_t mbeAcknowledge = 5;
inline constexpr uint8_t mbeServerBusy = 6;
inline constexpr uint8_t mbeGatewayPathNotAvailable = 10;
inline constexpr uint8_t mbeGatewayNoResponseFromTarget = 11;
