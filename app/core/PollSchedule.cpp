#include "PollSchedule.h"

#include <exception>

TPollSchedule::TPollSchedule(TMainThread& Main, TPrepare Prepare)
    : FPrepare(std::move(Prepare)), FWorker(Main) {
  FWorker.OnIdle = [this] { Idle(); };
}

void TPollSchedule::Start() {
  FOn = true;
  StartCycle();
}

void TPollSchedule::Stop() {
  FOn = false;
  FWanted = false;
  FWorker.Drop();
}

void TPollSchedule::Tick() {
  if (!FWorker.Busy()) StartCycle();
}

void TPollSchedule::Restart() {
  if (!FOn) return;
  if (FWorker.Busy()) {
    FWorker.Drop();
    FWanted = true;
  } else {
    StartCycle();
  }
}

void TPollSchedule::StartCycle() {
  if (FWorker.Busy()) {
    FWanted = true;
    return;
  }
  FWanted = false;
  TRead read = FPrepare();
  FWorker.Start([this, read = std::move(read)]() -> TCycleWorker::TContinuation {
    TFinish finish = read();
    // Runs on the main thread, and only while the cycle was not dropped.
    return [this, finish = std::move(finish)] { Finished(finish()); };
  });
}

void TPollSchedule::Finished(const TCycleOutcome& Outcome) {
  if (!FOn) return;
  if (OnOutcome) OnOutcome(Outcome);
  switch (AfterCycle(Outcome, KeepGoing)) {
    case EAfterCycle::acGoOn:
      break;
    case EAfterCycle::acRestart:
      if (OnRestart) OnRestart();
      break;
    case EAfterCycle::acEnd:
      Stop();
      if (OnEnded) OnEnded(Outcome);
      break;
  }
}

void TPollSchedule::Idle() {
  if (!FWanted || !FOn) return;
  // Called from the worker's report on the main thread, where nothing can
  // catch: a failure to prepare goes to the application's error report.
  try {
    StartCycle();
  } catch (...) {
    HandleApplicationException(std::current_exception());
  }
}
