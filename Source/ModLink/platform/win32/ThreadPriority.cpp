#include "../ThreadPriority.h"

#include <windows.h>

#include <algorithm>
#include <array>

TNativeThreadId CurrentNativeThreadId() {
  return static_cast<TNativeThreadId>(GetCurrentThreadId());
}

void ApplyThreadPriority(TNativeThreadId Thread, int Priority) {
  static constexpr std::array<int, 7> Priorities = {
      THREAD_PRIORITY_IDLE,         THREAD_PRIORITY_LOWEST,       THREAD_PRIORITY_BELOW_NORMAL,
      THREAD_PRIORITY_NORMAL,       THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST,
      THREAD_PRIORITY_TIME_CRITICAL};
  const HANDLE Handle =
      OpenThread(THREAD_SET_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(Thread));
  if (Handle == nullptr) return;
  SetThreadPriority(Handle, Priorities[static_cast<std::size_t>(std::clamp(Priority, 0, 6))]);
  CloseHandle(Handle);
}
