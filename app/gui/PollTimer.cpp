#include "PollTimer.h"

TPollTimer::TPollTimer(QObject* parent) : QObject(parent) {
  FTimer.setSingleShot(false);
  connect(&FTimer, &QTimer::timeout, this, [this] {
    if (FEnabled && OnTimer) OnTimer();
  });
}

void TPollTimer::SetEnabled(bool value) {
  if (FEnabled == value) return;
  FEnabled = value;
  Rearm();
}

void TPollTimer::SetInterval(int milliseconds) {
  if (FInterval == milliseconds) return;
  FInterval = milliseconds;
  Rearm();
}

// A change of either property restarts the count from zero, so the first tick
// comes one full interval after the poll started.
void TPollTimer::Rearm() {
  FTimer.stop();
  if (FEnabled && FInterval > 0) FTimer.start(FInterval);
}
