// The thread a connection's worker runs on. It runs one job at a time and, once a job has
// ended, waits parked for the next one instead of ending, until its owner goes. Opening the
// port again then wakes a thread instead of creating one: on a busy machine a new thread
// may wait a whole scheduler slice (milliseconds) for a processor, a woken one runs at once,
// and a poll cycle opens and closes its port every time.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class TReusableThread {
 public:
  TReusableThread() = default;
  // Ends the parked thread; a job still running is waited for first.
  ~TReusableThread();
  TReusableThread(const TReusableThread&) = delete;
  TReusableThread& operator=(const TReusableThread&) = delete;

  // Runs Job on the parked thread, or on a new one the first time and after a job that
  // retired its thread. One job at a time: the last one must have been joined. Job must
  // not throw (as with std::thread, an exception that leaves it ends the program).
  void Start(std::function<void()> Job);
  // Waits until the job has ended; at once when none runs.
  void Join();
  // The thread ends after the current job instead of parking: for a job that changed
  // something about its thread (its priority) that the next job must not inherit.
  void RetireAfterJob();

 private:
  void Loop();

  std::mutex FLock;
  std::condition_variable FChanged;
  std::function<void()> FJob;  // handed over, not yet taken by the thread
  bool FBusy = false;          // a job was started and has not ended
  bool FRetire = false;        // end after the current job
  bool FRetired = false;       // the thread has ended, or is about to: join it
  bool FQuit = false;          // the owner is going
  std::thread FThread;
};
