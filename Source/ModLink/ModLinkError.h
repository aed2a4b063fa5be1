// The library's exception class and the routines that raise it.
#pragma once

// windows.h stays inside platform/win32/*.cpp: its FormatMessage macro would rename the
// routine below.
#ifdef FormatMessage
#error "windows.h must not be included before the library's headers"
#endif

#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>

#include "ModLinkMessages.h"

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
