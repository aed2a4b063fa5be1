// Constants of the serial Modbus library: function codes, frame size limits,
// ASCII framing characters and the internal window message numbers.
#pragma once

#include <cstdint>

// Modbus function codes.
inline constexpr std::uint8_t Cmd_ReadCoils = 1;
inline constexpr std::uint8_t Cmd_ReadDiscreteInputs = 2;
inline constexpr std::uint8_t Cmd_ReadHoldingRegisters = 3;
inline constexpr std::uint8_t Cmd_ReadInputRegisters = 4;
inline constexpr std::uint8_t Cmd_WriteSingleCoil = 5;
inline constexpr std::uint8_t Cmd_WriteSingleRegister = 6;
inline constexpr std::uint8_t Cmd_ReadExceptionStatus = 7;
inline constexpr std::uint8_t Cmd_Diagnostics = 8;
inline constexpr std::uint8_t Cmd_WriteMultipleCoils = 15;
inline constexpr std::uint8_t Cmd_WriteMultipleRegisters = 16;
inline constexpr std::uint8_t Cmd_ReportServerID = 17;
inline constexpr std::uint8_t Cmd_ReadFileRecord = 20;
inline constexpr std::uint8_t Cmd_WriteFileRecord = 21;
inline constexpr std::uint8_t Cmd_MaskWriteRegister = 22;
inline constexpr std::uint8_t Cmd_ReadWriteMultipleRegisters = 23;

// Bit 7 of the function code marks an exception reply.
inline constexpr std::uint8_t ExceptionReplyFlag = 0x80;

inline constexpr std::uint16_t CoilOn = 0xFF00;
inline constexpr std::uint16_t CoilOff = 0x0000;
inline constexpr std::uint16_t LoopbackTestData = 0xA537;
inline constexpr std::uint16_t ClearEventLogData = 0xFF00;
inline constexpr std::uint8_t ReferenceType = 6;

inline constexpr std::uint8_t BroadcastAddress = 0;

// Frame sizes (binary, in bytes). An ADU is address + PDU + error check.
inline constexpr int MinQueryPDUSize = 1;
inline constexpr int MinReplyPDUSize = 2;
inline constexpr int MaxFramePDUSize = 253;
inline constexpr int MinQueryADUSizeRTU = 1 + MinQueryPDUSize + 2;
inline constexpr int MinQueryADUSizeASCII = 1 + MinQueryPDUSize + 1;
inline constexpr int MinReplyADUSizeRTU = 1 + MinReplyPDUSize + 2;
inline constexpr int MinReplyADUSizeASCII = 1 + MinReplyPDUSize + 1;
inline constexpr int MaxFrameADUSizeRTU = 1 + MaxFramePDUSize + 2;
inline constexpr int MaxFrameADUSizeASCII = 1 + MaxFramePDUSize + 1;

// Largest item counts whose reply (reads) or query (writes) fits in one frame.
inline constexpr int MaxReadBitCount = 2008;
inline constexpr int MaxReadRegisterCount = 125;
inline constexpr int MaxWriteBitCount = 1976;
inline constexpr int MaxWriteRegisterCount = 123;
inline constexpr int MaxReadWriteWriteCount = 121;  // the write part of function 23

// ASCII framing characters.
inline constexpr std::uint8_t Colon = 0x3A;
inline constexpr std::uint8_t CarriageReturn = 0x0D;
inline constexpr std::uint8_t LineFeed = 0x0A;

// The end of an RTU frame is never detected faster than this (milliseconds).
inline constexpr std::uint32_t MinimumRealSilentInterval = 16;

inline constexpr const char* DefaultPort = "COM1";

// Messages from the worker thread to the connection's internal window. windows.h stays
// inside platform/win32/*.cpp: its WM_USER macro would replace the constant below.
#ifdef WM_USER
#error "windows.h must not be included before the library's headers"
#endif
inline constexpr std::uint32_t WM_USER = 0x0400;
inline constexpr std::uint32_t UM_TRANSACTIONCOMPLETE = WM_USER + 1;
inline constexpr std::uint32_t UM_FRAMEDATA = WM_USER + 2;
inline constexpr std::uint32_t UM_INSPECTCAPTUREDFRAME = WM_USER + 3;
