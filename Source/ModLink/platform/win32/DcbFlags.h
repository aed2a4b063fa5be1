// The flag word of a Windows device control block (the bit fields that follow the bit
// rate in a DCB) for a set of line settings. Kept apart from the port so that the
// flow-control and modem-line rules can be checked without one.
#pragma once

#include <cstdint>

#include "../SerialDevice.h"

namespace DcbFlag {
inline constexpr std::uint32_t Binary = 0x0001;
inline constexpr std::uint32_t Parity = 0x0002;
inline constexpr std::uint32_t OutxCtsFlow = 0x0004;
inline constexpr std::uint32_t OutxDsrFlow = 0x0008;
inline constexpr std::uint32_t DtrControlEnable = 0x0010;
inline constexpr std::uint32_t DtrControlHandshake = 0x0020;
inline constexpr std::uint32_t RtsControlEnable = 0x1000;
inline constexpr std::uint32_t RtsControlHandshake = 0x2000;
inline constexpr std::uint32_t RtsControlToggle = 0x3000;
inline constexpr std::uint32_t AbortOnError = 0x4000;
}  // namespace DcbFlag

// Binary mode always; parity checking with a parity bit; CTS-paced output with RTS as
// handshake, or DSR-paced output with DTR as handshake. RTS is raised only when no
// handshake drives it (an RTS toggle around each frame is done by the sender, so the
// driver keeps it low), DTR unless it is the handshake. Abort-on-error is never set: a
// line error must not stall every later read.
std::uint32_t DcbFlags(const TLineSettings& Settings);

// The parity code of a DCB: none 0, odd 1, even 2.
std::uint8_t DcbParity(char Parity);
// The stop-bit code of a DCB: one stop bit 0, two stop bits 2.
std::uint8_t DcbStopBits(int StopBits);
