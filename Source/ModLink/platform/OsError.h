// Operating-system failures are raised one way: std::system_error with the system's own
// error code (errno on POSIX, GetLastError() on Windows) and What in front of its reason.
#pragma once

#include <string>

[[noreturn]] void RaiseLastOSError(const std::string& What);
