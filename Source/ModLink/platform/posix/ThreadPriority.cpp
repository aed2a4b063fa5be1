#include "../ThreadPriority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>

TNativeThreadId CurrentNativeThreadId() {
  return static_cast<TNativeThreadId>(syscall(SYS_gettid));
}

void ApplyThreadPriority(TNativeThreadId Thread, int Priority) {
  // Linux schedules threads by their nice value; idle .. time-critical.
  static constexpr std::array<int, 7> NiceValues = {19, 10, 5, 0, -5, -10, -20};
  const int Nice = NiceValues[static_cast<std::size_t>(std::clamp(Priority, 0, 6))];
  setpriority(PRIO_PROCESS, static_cast<id_t>(Thread), Nice);
}
