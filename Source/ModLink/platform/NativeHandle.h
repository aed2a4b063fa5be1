// The operating system's handle of an open device or event, kept out of every other
// header's business: a descriptor on POSIX, a HANDLE on Windows.
#pragma once

#ifdef _WIN32
using TNativeHandle = void*;
inline const TNativeHandle InvalidNativeHandle = reinterpret_cast<void*>(-1);
#else
using TNativeHandle = int;
inline constexpr TNativeHandle InvalidNativeHandle = -1;
#endif
