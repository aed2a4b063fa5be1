#pragma once
// The portable meaning of an operating-system error code raised by the TCP layer
// (errno on POSIX, a Winsock code on Windows), so that callers can tell a refused
// connection or a time-out apart without knowing the system's numbers.

#include <system_error>

std::error_condition SocketErrorCondition(int OSError);
