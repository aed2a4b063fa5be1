#pragma once
// What the command-line programs' wait loops wait on: a file descriptor on POSIX, a
// Winsock socket on Windows (where only sockets can be waited on together).

#include <cstdint>

#if defined(_WIN32)
using TPollHandle = std::uintptr_t;
inline constexpr TPollHandle NoPollHandle = ~TPollHandle{0};
#else
using TPollHandle = int;
inline constexpr TPollHandle NoPollHandle = -1;
#endif
