#include "ModLinkError.h"

std::string FormatMessage(std::string_view Format, std::initializer_list<TFormatArg> Args) {
  std::string Result;
  Result.reserve(Format.size() + 16);
  auto Next = Args.begin();
  for (std::size_t i = 0; i < Format.size(); ++i) {
    const char c = Format[i];
    if (c != '%' || i + 1 >= Format.size()) {
      Result += c;
      continue;
    }
    const char Conversion = Format[i + 1];
    if (Conversion == '%') {
      Result += '%';
      ++i;
    } else if ((Conversion == 'd' || Conversion == 'u' || Conversion == 'i' || Conversion == 's') &&
               Next != Args.end()) {
      Result += Next->ToString();
      ++Next;
      ++i;
    } else {
      Result += c;
    }
  }
  return Result;
}

void ModLinkError(std::string_view Message) {
  throw EModLinkError(std::string(Message));
}

void ModLinkError(std::string_view Format, std::initializer_list<TFormatArg> Args) {
  throw EModLinkError(FormatMessage(Format, Args));
}

void InternalError() {
  ModLinkError(ModLinkMessages::SInternalError);
}
