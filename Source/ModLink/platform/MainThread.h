// The seam between the serial library's worker threads and the thread that owns
// the user interface. Posted calls run later on that thread in the order posted;
// Synchronize runs a call there and waits for it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class TMainThread {
 public:
  virtual ~TMainThread() = default;
  // Any thread; never blocks.
  virtual void Post(std::function<void()> Fn) = 0;
  // Runs Fn on the main thread and waits; an exception raised by Fn is raised
  // again in the caller. On the main thread itself Fn runs directly.
  virtual void Synchronize(std::function<void()> Fn) = 0;
  virtual bool IsMainThread() const = 0;
  // Runs the pending Synchronize calls, and only those. The main thread calls it
  // while it waits for a worker to end, so a worker blocked in Synchronize can finish.
  virtual void CheckSynchronize() = 0;
};

// The default implementation: a locked queue that the owning thread drains.
// Tests and command-line tools use it; the GUI installs its own.
class TQueuedMainThread : public TMainThread {
 public:
  // The constructing thread is the main thread.
  TQueuedMainThread();
  ~TQueuedMainThread() override;

  void Post(std::function<void()> Fn) override;
  void Synchronize(std::function<void()> Fn) override;
  bool IsMainThread() const override;
  void CheckSynchronize() override;

  // Runs everything queued so far; returns how many calls ran.
  int ProcessMessages();
  // Processes calls as they come until Predicate holds or Timeout passes;
  // returns the last value of Predicate.
  bool ProcessMessagesUntil(const std::function<bool()>& Predicate,
                            std::chrono::milliseconds Timeout);
  // Calls posted but not yet run.
  std::size_t PendingCount() const;
  void SetOwnerThread(std::thread::id Id);

 private:
  struct TSyncCall;
  struct TItem {
    std::function<void()> Fn;         // a posted call
    std::shared_ptr<TSyncCall> Sync;  // or a Synchronize call
  };
  void RunItem(TItem& Item);

  mutable std::mutex FLock;
  std::condition_variable FArrived;
  std::deque<TItem> FQueue;
  std::thread::id FOwner;
};

// The main thread of the process: the one installed, or a TQueuedMainThread made
// on first use (its owner is the thread that first asks).
TMainThread& MainThread();
// Installs Thread as the process's main thread (null: back to the default queue).
// The caller keeps it alive while any connection uses it.
void InstallMainThread(TMainThread* Thread);
// The default queue, for tools and tests that drain it themselves.
TQueuedMainThread& DefaultMainThread();

// The application's handler for exceptions that reach the message loop.
using TApplicationExceptionHandler = std::function<void(std::exception_ptr)>;
void SetApplicationExceptionHandler(TApplicationExceptionHandler Handler);
// Passes E to the installed handler; without one, writes its message to stderr.
// Never raises.
void HandleApplicationException(std::exception_ptr E) noexcept;
