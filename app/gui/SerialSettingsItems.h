#pragma once
// The items of the baud-rate and parity lists of the main window, each with
// the serial connection setting it selects. The setting travels with the item
// as its attached data (the enumeration's ordinal), so the serial cycle reads
// it back from the selected item without looking at the text.

#include <array>

#include "ModLinkTypes.h"

struct TBaudRateItem {
  const char* text;
  TBaudRate value;
};

struct TParityItem {
  const char* text;
  TParityScheme value;
};

inline constexpr std::array<TBaudRateItem, 5> BAUD_RATE_ITEMS = {{
    {"9600", br9600},
    {"19200", br19200},
    {"38400", br38400},
    {"57600", br57600},
    {"115200", br115200},
}};
inline constexpr int DEFAULT_BAUD_RATE_INDEX = 4;  // "115200"

inline constexpr std::array<TParityItem, 3> PARITY_ITEMS = {{
    {"Even", psEven},
    {"Odd", psOdd},
    {"None", psNone},
}};
inline constexpr int DEFAULT_PARITY_INDEX = 2;  // "None"
