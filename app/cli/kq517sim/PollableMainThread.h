#pragma once
// The serial library's main-thread seam for a wait loop: calls posted or
// synchronized by the worker thread queue up, and a wake-up handle (an eventfd,
// or a socket on Windows) becomes readable so that the loop wakes at once and
// runs them.

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/MainThread.h"
#include "platform/WakeChannel.h"

class TPollableMainThread : public TMainThread {
 public:
  // The constructing thread is the main thread.
  TPollableMainThread();
  ~TPollableMainThread() override;

  void Post(std::function<void()> Fn) override;
  void Synchronize(std::function<void()> Fn) override;
  bool IsMainThread() const override { return std::this_thread::get_id() == FOwner; }
  void CheckSynchronize() override;

  // Readable while calls wait; put it in the loop's poll set.
  TPollHandle WakeFd() const { return FWake.Handle(); }
  // Main thread: runs every call queued so far.
  void RunPending();

 private:
  struct TSyncCall {
    std::function<void()> Fn;
    std::mutex Lock;
    std::condition_variable DoneSignal;
    bool Done = false;
    std::exception_ptr Error;
  };
  struct TItem {
    std::function<void()> Fn;         // a posted call
    std::shared_ptr<TSyncCall> Sync;  // or a synchronized one
  };
  void Enqueue(TItem Item);
  static void Run(TItem& Item);

  const std::thread::id FOwner;
  TWakeChannel FWake;
  std::mutex FLock;
  std::deque<TItem> FQueue;
};
