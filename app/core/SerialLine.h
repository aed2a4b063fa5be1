#pragma once
// The settings of a serial line as the programs name and apply them: bit
// rates (any rate the port takes, the library's list where it has one),
// parity words, and the slave addresses a meter can have.

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
