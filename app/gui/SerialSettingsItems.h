#pragma once
// The items of the baud-rate, parity, mode, data-bits and stop-bits lists of
// the main window and of its two "Funzione" lists, each with the setting it
// selects. The setting travels with the item
// as its attached data (the enumeration's ordinal), so the serial cycle reads
// it back from the selected item without looking at the text.

#include <array>

#include "ModLinkTypes.h"
#include "ReadFunction.h"

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

// An item of a list whose default is its first item.
template <typename T>
struct TSettingItem {
  const char* text;
  T value;
};

inline constexpr std::array<TSettingItem<TTransmissionMode>, 2> MODE_ITEMS = {{
    {"RTU", tmRTU},
    {"ASCII", tmASCII},
}};
inline constexpr std::array<TSettingItem<TDataBits>, 2> DATA_BITS_ITEMS = {{
    {"8", db8},
    {"7", db7},
}};
inline constexpr std::array<TSettingItem<TStopBits>, 2> STOP_BITS_ITEMS = {{
    {"1", sb1},
    {"2", sb2},
}};
inline constexpr std::array<TSettingItem<EReadFunction>, 2> FUNCTION_ITEMS = {{
    {"03 Holding", EReadFunction::rfHoldingRegisters},
    {"04 Input", EReadFunction::rfInputRegisters},
}};
