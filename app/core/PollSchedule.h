#pragma once
// When the cycles of a poll run: the first at the start, then one per tick of
// the owner's timer, never two at once. A tick that falls due while a cycle
// runs is skipped; a change of settings drops the cycle in flight (it was
// read for the old ones) and starts another as soon as its thread is free; a
// stop drops it too, so that nothing arrives after it. After a failure the
// poll ends, or goes on when asked (AfterCycle in CycleOutcome.h).
//
// A cycle is prepared on the main thread, read on a worker thread (see
// TCycleWorker) and finished on the main thread, where its outcome is handed
// on. The owner keeps the timer and calls Tick.

#include <functional>

#include "CycleOutcome.h"
#include "CycleWorker.h"

class TPollSchedule {
 public:
  // Finishes a cycle on the main thread, once its read is done.
  using TFinish = std::function<TCycleOutcome()>;
  // Reads on the worker thread; may touch only what it captured.
  using TRead = std::function<TFinish()>;
  // Prepares a cycle on the main thread (reading the settings, which may
  // raise); returns its read.
  using TPrepare = std::function<TRead()>;

  TPollSchedule(TMainThread& Main, TPrepare Prepare);

  // A failed cycle does not end the poll; the next cycle starts afresh.
  bool KeepGoing = false;
  // Every outcome of the running poll, on the main thread.
  std::function<void(const TCycleOutcome&)> OnOutcome;
  // After a failed cycle that does not end the poll because it is to go on:
  // the next cycle starts as a new poll would (connecting afresh).
  std::function<void()> OnRestart;
  // The poll ended itself after this outcome (already handed to OnOutcome).
  std::function<void(const TCycleOutcome&)> OnEnded;

  bool On() const { return FOn; }
  // A cycle is in flight (also a dropped one whose thread has not ended).
  bool Busy() const { return FWorker.Busy(); }

  // The poll is on: its first cycle starts now, or as soon as a dropped one
  // has ended. Preparing the cycle may raise; the poll stays on then.
  void Start();
  // The poll is off; the cycle in flight is dropped.
  void Stop();
  // A tick of the owner's timer: a cycle starts unless one is in flight. Its
  // outcome is heard only while the poll is on.
  void Tick();
  // The settings changed: the cycle in flight is dropped and another starts
  // as soon as it has ended (at once when none is in flight).
  void Restart();
  // The cycle in flight is dropped; the next tick starts another.
  void Drop() { FWorker.Drop(); }

 private:
  void StartCycle();
  void Idle();
  void Finished(const TCycleOutcome& Outcome);

  TPrepare FPrepare;
  TCycleWorker FWorker;
  bool FOn = false;
  // A cycle is to start as soon as the one in flight has ended.
  bool FWanted = false;
};
