// Settings enumerations of the serial connection and their translation tables.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>

enum TBaudRate : std::uint8_t {
  br110,
  br300,
  br600,
  br1200,
  br2400,
  br4800,
  br9600,
  br14400,
  br19200,
  br38400,
  br56000,
  br57600,
  br115200,
  br128000,
  br256000,
  brCustom
};
enum TDataBits : std::uint8_t { db7, db8 };
enum TParityScheme : std::uint8_t { psNone, psOdd, psEven };
enum TStopBits : std::uint8_t { sb1, sb2 };
enum TFlowControl : std::uint8_t { fcNone, fcRtsToggle, fcRtsCts, fcDtrDsr };
using TFlowControls = std::initializer_list<TFlowControl>;
enum TTransmissionMode : std::uint8_t { tmRTU, tmASCII };
enum TConnectionMode : std::uint8_t {
  cmClient,  // master: queue and send queries
  cmServer,  // slave: answer queries
  cmMonitor  // listen only and report captured frames
};
// Worker thread priority; the ordinal is what TTransactionThread::SetPriority takes.
enum TThreadPriority : std::uint8_t {
  tpIdle,
  tpLowest,
  tpLower,
  tpNormal,
  tpHigher,
  tpHighest,
  tpTimeCritical
};

using TMaxRetries = std::uint32_t;  // 1 .. 4294967295
using TSerialPort = std::string;

// Bit rate per TBaudRate; 0 for brCustom, where CustomBaudRate applies.
inline constexpr std::array<std::uint32_t, 16> CBaudRates = {
    110,   300,   600,   1200,  2400,   4800,   9600,   14400,
    19200, 38400, 56000, 57600, 115200, 128000, 256000, 0};
inline constexpr std::array<std::uint32_t, 2> CDataBits = {7, 8};
// Stop bits as counts, for the silent interval.
inline constexpr std::array<std::uint32_t, 2> CStopBits = {1, 2};

inline constexpr bool IsValid(TBaudRate v) {
  return v <= brCustom;
}
inline constexpr bool IsValid(TDataBits v) {
  return v <= db8;
}
inline constexpr bool IsValid(TParityScheme v) {
  return v <= psEven;
}
inline constexpr bool IsValid(TStopBits v) {
  return v <= sb2;
}
inline constexpr bool IsValid(TFlowControl v) {
  return v <= fcDtrDsr;
}
inline constexpr bool IsValid(TTransmissionMode v) {
  return v <= tmASCII;
}
inline constexpr bool IsValid(TConnectionMode v) {
  return v <= cmMonitor;
}
