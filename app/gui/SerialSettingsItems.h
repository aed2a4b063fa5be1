#pragma once
// The items of the baud-rate and parity lists of the main window, each with
// the serial connection setting it selects. The setting travels with the item
// as its attached data (the enumeration's ordinal), so the serial cycle reads
// it back from the selected item without looking at the text.

#include <array>

// Ordinals of the serial library's TBaudRate and TParityScheme. The lists only
// store and hand back these numbers; the serial cycle converts them to the
// library's enumerations, which declare their values in this same order.
namespace SerialSetting {
enum TBaudRate : int {
  br110, br300, br600, br1200, br2400, br4800, br9600, br14400, br19200,
  br38400, br56000, br57600, br115200, br128000, br256000, brCustom
};
enum TParityScheme : int { psNone, psOdd, psEven };
}  // namespace SerialSetting

struct TBaudRateItem {
  const char* text;
  SerialSetting::TBaudRate value;
};

struct TParityItem {
  const char* text;
  SerialSetting::TParityScheme value;
};

inline constexpr std::array<TBaudRateItem, 5> BAUD_RATE_ITEMS = {{
    {"9600", SerialSetting::br9600},
    {"19200", SerialSetting::br19200},
    {"38400", SerialSetting::br38400},
    {"57600", SerialSetting::br57600},
    {"115200", SerialSetting::br115200},
}};
inline constexpr int DEFAULT_BAUD_RATE_INDEX = 4;  // "115200"

inline constexpr std::array<TParityItem, 3> PARITY_ITEMS = {{
    {"Even", SerialSetting::psEven},
    {"Odd", SerialSetting::psOdd},
    {"None", SerialSetting::psNone},
}};
inline constexpr int DEFAULT_PARITY_INDEX = 2;  // "None"
