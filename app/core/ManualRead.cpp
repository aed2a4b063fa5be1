#include "ManualRead.h"

#include <cstdio>

#include "Commons.h"

std::string RegisterValuesText(int Start, const std::vector<uint16_t>& Values) {
  std::string text = "Register value(s) read:";
  char line[48];
  for (size_t i = 0; i < Values.size(); ++i) {
    std::snprintf(line, sizeof line, "\r\n     %lld: 0x%04X",
                  static_cast<long long>(Start) + static_cast<long long>(i), Values[i]);
    text += line;
  }
  return text;
}

std::vector<std::string> ManualReadRegisters(TIdModBusClient& Client, const std::string& Host,
                                             const std::string& RegisterText,
                                             const std::string& BlockLengthText) {
  const int count = StrToInt(BlockLengthText);
  // Out-of-range numbers are refused instead of being cut to 16 bits, which
  // would read some other register or block than the one typed in.
  if (count < 0 || count > MANUAL_READ_MAX_BLOCK)
    return {"Block length must be between 0 and " + std::to_string(MANUAL_READ_MAX_BLOCK)};

  Client.SetHost(Host);
  Client.Connect();
  std::vector<std::string> messages;
  try {
    if (count != 0) {
      const int start = StrToInt(RegisterText);
      if (start < 0 || start + count > 65536) {
        messages.push_back("Register number must be between 0 and " +
                           std::to_string(65536 - count));
      } else {
        std::vector<uint16_t> values(static_cast<size_t>(count), 0);
        if (Client.ReadHoldingRegisters(static_cast<uint16_t>(start), static_cast<uint16_t>(count),
                                        values)) {
          values.resize(static_cast<size_t>(count));
          messages.push_back("Read " + std::to_string(count) + " registers");
          messages.push_back(RegisterValuesText(start, values));
        } else {
          messages.push_back("PLC read operation failed!");
        }
      }
    }
  } catch (...) {
    Client.Disconnect();
    throw;
  }
  Client.Disconnect();
  return messages;
}
