#pragma once
// The serial library's main-thread seam on Qt: calls posted by the library's
// worker threads run on the GUI thread through its event loop, in the order
// they were posted.
//
// Synchronize queues its call in a list of its own and posts one event that
// runs the list; the caller waits until its call has run. A plain
// blocking-queued invocation would do the same, but a call parked in Qt's
// event queue cannot be reached by CheckSynchronize, which the GUI thread
// runs while it waits for a worker to end; the list can, so a worker blocked
// in Synchronize never deadlocks the GUI thread that is closing its port.
//
// Exceptions never reach the Qt event loop: a posted call that raises goes to
// the application's exception handler, a synchronized one is raised again in
// the waiting thread.

#include <QObject>
#include <deque>
#include <memory>
#include <mutex>

#include "platform/MainThread.h"

class TQtMainThread final : public TMainThread {
 public:
  // Made on the GUI thread, after the QApplication.
  TQtMainThread();
  // Posted calls not yet run are dropped; threads still waiting in
  // Synchronize are released with an error.
  ~TQtMainThread() override;
  TQtMainThread(const TQtMainThread&) = delete;
  TQtMainThread& operator=(const TQtMainThread&) = delete;

  void Post(std::function<void()> Fn) override;
  void Synchronize(std::function<void()> Fn) override;
  bool IsMainThread() const override;
  void CheckSynchronize() override;

 private:
  struct TSyncCall;

  void RunPostedCalls();
  // Has the object's thread run what is in the lists (any thread).
  void Wake();

  // The object whose thread runs the calls; queued events die with it.
  std::unique_ptr<QObject> FContext;
  std::mutex FLock;
  std::deque<std::function<void()>> FPostedCalls;
  std::deque<std::shared_ptr<TSyncCall>> FSyncCalls;
};

// Makes a TQtMainThread the process's main thread while it lives; the
// default queue takes over again when it ends. Made on the GUI thread before
// any serial connection, since a connection keeps the main thread it was made
// with.
class TQtMainThreadInstallation {
 public:
  TQtMainThreadInstallation();
  ~TQtMainThreadInstallation();
  TQtMainThreadInstallation(const TQtMainThreadInstallation&) = delete;
  TQtMainThreadInstallation& operator=(const TQtMainThreadInstallation&) = delete;

  TQtMainThread& Thread() { return FThread; }

 private:
  TQtMainThread FThread;
};
