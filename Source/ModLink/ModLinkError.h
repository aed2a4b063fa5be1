// The library's exception class and the routines that raise it.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>

// Every failure raised by the library itself; operating-system failures are
// std::system_error instead.
class EModLinkError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// One argument of a printf-style message: an integer for %d / %u, a text for %s.
class TFormatArg {
public:
  TFormatArg(long long Value) : FIsText(false), FNumber(Value) {}
  TFormatArg(int Value) : TFormatArg(static_cast<long long>(Value)) {}
  TFormatArg(unsigned Value) : TFormatArg(static_cast<long long>(Value)) {}
  TFormatArg(unsigned long Value) : TFormatArg(static_cast<long long>(Value)) {}
  TFormatArg(long Value) : TFormatArg(static_cast<long long>(Value)) {}
  TFormatArg(unsigned long long Value) : TFormatArg(static_cast<long long>(Value)) {}
  TFormatArg(const char* Value) : FIsText(true), FText(Value ? Value : "") {}
  TFormatArg(std::string Value) : FIsText(true), FText(std::move(Value)) {}

  std::string ToString() const { return FIsText ? FText : std::to_string(FNumber); }

private:
  bool FIsText;
  long long FNumber = 0;
  std::string FText;
};

// Formats %d, %u, %i and %s with the arguments in order; %% gives a percent sign.
// A placeholder without an argument stays as written, surplus arguments are ignored,
// so a mismatched message never reads memory it was not given.
std::string FormatMessage(std::string_view Format, std::initializer_list<TFormatArg> Args);

[[noreturn]] void ModLinkError(std::string_view Message);
[[noreturn]] void ModLinkError(std::string_view Format, std::initializer_list<TFormatArg> Args);
// Raised where an enumeration holds a value outside its declared range.
[[noreturn]] void InternalError();

// Message texts of the library.
namespace ModLinkMessages {
inline constexpr const char* SInternalError = "Internal error";
inline constexpr const char* SNotEnoughSpace =
    "There is not enough space in the buffer to perform the requested action";
inline constexpr const char* SBufferPositionInvalid = "Buffer position is invalid (%d)";
inline constexpr const char* SBufferSizeInvalid = "Buffer size is invalid (%d)";
inline constexpr const char* SCouldNotOpenPort = "Could not open serial port";
inline constexpr const char* SFailedInitBuffers = "Failed to initialize serial I/O buffers";
inline constexpr const char* SFailedInitTimeouts = "Failed to initialize communication timeouts";
inline constexpr const char* SFailedInitEventMask = "Failed to initialize serial event mask";
inline constexpr const char* SFailedUpdateDCB = "Failed to update device control block";
inline constexpr const char* SConnectionActive =
    "Connection must NOT be active for the requested action to be performed";
inline constexpr const char* SConnectionNotActive =
    "Connection MUST be active for the requested action to be performed";
inline constexpr const char* SFlowControlInvalid =
    "Flow control is not valid for the requested action to be performed";
inline constexpr const char* SValueOutOfRange = "Value must be between %d and %d";
inline constexpr const char* SFailedEnhanceClock = "Failed to enhance system clock resolution";
inline constexpr const char* SFailedEncodeFrame = "Failed to encode frame";
inline constexpr const char* SFailedDecodeFrame = "Failed to decode frame";
inline constexpr const char* SListIndexOutOfBounds = "List index out of bounds (%d)";
inline constexpr const char* SDtrDsrNotSupported =
    "DTR/DSR flow control is not supported on this system";
}  // namespace ModLinkMessages
