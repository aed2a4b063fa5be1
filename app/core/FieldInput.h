#pragma once
// Numbers typed into the window's fields. A text that is not the number the
// field wants raises EConvertError with an Italian text that names the field,
// for the error bar.

#include <cstdint>
#include <string>
#include <string_view>

// Largest poll interval, in seconds, whose milliseconds still fit a timer.
inline constexpr int MAX_POLL_INTERVAL_SECONDS = 2147483;
// Shortest poll interval other than 0 (0 runs one cycle and no ticks).
inline constexpr int MIN_POLL_INTERVAL_MS = 100;

// A decimal number with '.' or DecimalSeparator before its decimals, blanks
// around it allowed; no exponent, no thousands separators, no "nan" or "inf".
// Raises EConvertError naming Field.
double FieldDecimal(std::string_view Field, const std::string& Text,
                    std::string_view DecimalSeparator);

// Seconds of a poll interval as timer milliseconds: 0, or 0.1 up to
// MAX_POLL_INTERVAL_SECONDS, rounded to the millisecond.
int PollIntervalMilliseconds(std::string_view Field, const std::string& Text,
                             std::string_view DecimalSeparator);

// A whole number (StrToInt) whose error names Field.
int FieldInteger(std::string_view Field, const std::string& Text);

// A TCP port number, 0 to 65535.
int FieldPort(std::string_view Field, const std::string& Text);

// A Modbus TCP unit identifier, 0 to 255.
std::uint8_t FieldUnitId(std::string_view Field, const std::string& Text);

// Seconds of a reply time-out as milliseconds: 0.1 up to MAX_REPLY_TIMEOUT_SECONDS.
inline constexpr int MAX_REPLY_TIMEOUT_SECONDS = 3600;
int FieldTimeoutMilliseconds(std::string_view Field, const std::string& Text,
                             std::string_view DecimalSeparator);

// A serial slave address: a whole number whose low 8 bits address the meter
// ("300" addresses slave 44).
std::uint8_t FieldSlaveAddress(std::string_view Field, const std::string& Text);
