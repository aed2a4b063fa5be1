#include "StopSignal.h"

#include <algorithm>

#include "platform/ProcessSignals.h"
#include "platform/Sockets.h"

TStopSignal::TStopSignal() {
  InstallStopHandler(FChannel);
}

TStopSignal::~TStopSignal() {
  RemoveStopHandler();
}

bool TStopSignal::Requested() const {
  return WaitFor(std::chrono::milliseconds(0));
}

bool TStopSignal::WaitFor(std::chrono::milliseconds Time) const {
  const auto deadline = std::chrono::steady_clock::now() + Time;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    TPollEntry entry{FChannel.Handle()};
    // A signal that ends the wait early is usually the stop itself: look again.
    if (PollHandles({&entry, 1}, static_cast<int>(std::max<long long>(left.count(), 0))))
      return entry.readable;
  }
}
