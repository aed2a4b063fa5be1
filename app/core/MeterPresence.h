#pragma once
// Whether the chosen meter instance answers. A gateway answers 0xFFFF in
// every register of an instance that is switched off; the firmware-version
// word, which the normal map puts first, is where that shows.

#include <cstdint>
#include <span>
#include <string>

#include "RegisterTypes.h"

// What the firmware-version word of a switched-off meter instance reads.
inline constexpr std::uint16_t ABSENT_METER_WORD = 0xFFFF;

// The entry is the firmware-version word that the normal map puts first.
bool IsFirmwareEntry(const TConfigRecord& Entry);

// Words were read from the map's base address, and the map's first entry is
// the firmware-version word, which reads ABSENT_METER_WORD. A map without that
// entry (the QVZT map) cannot tell, and its instance counts as present.
bool MeterInstanceAbsent(std::span<const TConfigRecord> Regs, std::span<const std::uint16_t> Words);

// "meter instance 2 not present", the English text of the command-line
// programs' reports for meter instance index 1.
std::string MeterNotPresentText(int MeterInstanceIndex);

// "Contatore 2 non presente": the same in the window's words (its error bar,
// the limits test's dialog and the commissioning report).
std::string MeterNotPresentWindowText(int MeterInstanceIndex);
