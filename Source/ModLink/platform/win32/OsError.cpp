#include "../OsError.h"

#include <windows.h>

#include <system_error>

void RaiseLastOSError(const std::string& What) {
  const DWORD Error = GetLastError();
  throw std::system_error(static_cast<int>(Error), std::system_category(), What);
}
