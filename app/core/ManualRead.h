#pragma once
// The manual read of the hidden " Read registers" panel: one read of a block
// of holding registers, reported as message-box texts.

#include <string>
#include <vector>

#include "IdModBusClient.h"

// Largest block the panel asks for: what one request can bring back. Longer
// blocks would list registers the device never sent.
inline constexpr int MANUAL_READ_MAX_BLOCK = MaxBlockLength;

// Button1Click without the widgets: connects to Host (on the client's current
// port), reads BlockLengthText registers from RegisterText and returns the
// texts of the message boxes to show, in order. A block length of 0 reads
// nothing and shows nothing. The connection is closed again in every case; a
// number that is not an integer raises EConvertError, a connection failure
// ETcpConnectionError, after that.
std::vector<std::string> ManualReadRegisters(TIdModBusClient& Client, const std::string& Host,
                                             const std::string& RegisterText,
                                             const std::string& BlockLengthText);

// "Register value(s) read:" and one line per register: CR LF, five blanks,
// the register number, ": 0x" and the value in four uppercase hex digits.
std::string RegisterValuesText(int Start, const std::vector<uint16_t>& Values);
