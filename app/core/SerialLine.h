#pragma once
// The settings of a serial line as the programs name and apply them: bit
// rates (any rate the port takes, the library's list where it has one),
// parity words, framing, data and stop bits, and the slave addresses a meter
// can have. The command-line programs and the window offer the same choices.

#include <array>
#include <cstdint>
#include <string>

#include "ModLinkTypes.h"

class TModbusConnection;

// Unicast slave addresses of the Modbus serial line (248 to 255 are reserved).
inline constexpr int MIN_SLAVE_ADDRESS = 1;
inline constexpr int MAX_SLAVE_ADDRESS = 247;

// Bit rates a serial port may be asked for.
inline constexpr std::uint32_t MIN_BIT_RATE = 50;
inline constexpr std::uint32_t MAX_BIT_RATE = 4000000;

// Bits per second of a rate of the library's list (0 for brCustom).
std::uint32_t BitsPerSecond(TBaudRate BaudRate);
// The rate of the library's list with this many bits per second, brCustom
// for any other.
TBaudRate BaudRateFor(std::uint32_t BitsPerSecond);
// Gives the connection the rate: one of its list, or a custom one.
void SetBitRate(TModbusConnection& Connection, std::uint32_t BitsPerSecond);

// "none", "even" or "odd".
std::string ParityWord(TParityScheme Parity);

// The framings, data bits and stop bits a line may have, the default first.
inline constexpr std::array<TTransmissionMode, 2> TRANSMISSION_MODES = {tmRTU, tmASCII};
inline constexpr std::array<TDataBits, 2> DATA_BITS = {db8, db7};
inline constexpr std::array<TStopBits, 2> STOP_BITS = {sb1, sb2};

// "rtu" or "ascii".
std::string ModeWord(TTransmissionMode Mode);
// 7 or 8.
int DataBitsNumber(TDataBits DataBits);
// 1 or 2.
int StopBitsNumber(TStopBits StopBits);

// Whether a port name is a serial device server's TCP stream
// (tcp://HOST:PORT) rather than a serial port: bit rate, parity, data and
// stop bits are then the server's own and mean nothing here.
bool IsTcpPortName(const std::string& Port);
