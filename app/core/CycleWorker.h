#pragma once
// Runs one collection cycle at a time on a thread of its own and hands what
// it found back to the main thread through the main-thread seam, so that a
// device that holds a request never holds the window.
//
// A job runs on the worker thread and returns the continuation that the main
// thread runs with its result. Drop() forgets the job in flight: its thread
// ends on its own and its continuation never runs. The worker thread touches
// only what its job captured, so the owner may be destroyed while a job is
// still waiting for a device; whatever the job shares with the owner must be
// held by shared ownership.

#include <functional>
#include <memory>

#include "platform/MainThread.h"

class TCycleWorker {
 public:
  using TContinuation = std::function<void()>;
  using TJob = std::function<TContinuation()>;

  // Main is the thread the continuations run on; the worker is used from it only.
  explicit TCycleWorker(TMainThread& Main);
  // Drops a job still in flight and returns at once.
  ~TCycleWorker();
  TCycleWorker(const TCycleWorker&) = delete;
  TCycleWorker& operator=(const TCycleWorker&) = delete;

  // A job has started and its thread has not reported back yet (also after
  // Drop, until the thread has ended its work).
  bool Busy() const { return FBusy; }
  // Starts Job on a new thread; false, and nothing started, while Busy.
  bool Start(TJob Job);
  // The job in flight ends unheard: its continuation is not run.
  void Drop() { FDropped = FBusy; }

  // Runs on the main thread each time a job's thread has reported back,
  // after its continuation (if any): the moment to start a job that had to
  // wait.
  std::function<void()> OnIdle;

 private:
  struct TLink;
  void Finished(const TContinuation& Continuation);

  std::shared_ptr<TLink> FLink;
  bool FBusy = false;
  bool FDropped = false;
};
