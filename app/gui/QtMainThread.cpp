#include "QtMainThread.h"

#include <QMetaObject>
#include <QThread>

#include <condition_variable>
#include <stdexcept>

struct TQtMainThread::TSyncCall {
  std::function<void()> Fn;
  std::mutex Lock;
  std::condition_variable DoneSignal;
  bool Done = false;
  std::exception_ptr Error;

  // The exception object passes between the threads only under Lock: this
  // thread hands over its one reference before the waiter may wake, and the
  // waiter takes it out before it unlocks, so the object's reference count is
  // never touched by both threads at once.
  void Run() {
    std::exception_ptr error;
    try {
      Fn();
    } catch (...) {
      error = std::current_exception();
    }
    Finish(std::move(error));
  }
  void Finish(std::exception_ptr&& E) {
    std::lock_guard guard(Lock);
    Error = std::move(E);
    Done = true;
    DoneSignal.notify_all();
  }
  // Waits until the call has run; returns what it raised.
  std::exception_ptr Wait() {
    std::unique_lock wait(Lock);
    DoneSignal.wait(wait, [&] { return Done; });
    return std::move(Error);
  }
};

TQtMainThread::TQtMainThread() : FContext(std::make_unique<QObject>()) {}

TQtMainThread::~TQtMainThread() {
  FContext.reset();
  std::deque<std::shared_ptr<TSyncCall>> waiting;
  {
    std::lock_guard guard(FLock);
    waiting.swap(FSyncCalls);
  }
  for (auto& call : waiting)
    call->Finish(std::make_exception_ptr(std::runtime_error("the main thread has ended")));
}

void TQtMainThread::Post(std::function<void()> Fn) {
  QMetaObject::invokeMethod(
      FContext.get(),
      [fn = std::move(Fn)] {
        try {
          fn();
        } catch (...) {
          HandleApplicationException(std::current_exception());
        }
      },
      Qt::QueuedConnection);
}

void TQtMainThread::Synchronize(std::function<void()> Fn) {
  if (IsMainThread()) {
    Fn();
    return;
  }
  auto call = std::make_shared<TSyncCall>();
  call->Fn = std::move(Fn);
  {
    std::lock_guard guard(FLock);
    FSyncCalls.push_back(call);
  }
  // Runs whatever is in the list by then; a call already taken by
  // CheckSynchronize leaves nothing for it to do.
  QMetaObject::invokeMethod(FContext.get(), [this] { CheckSynchronize(); }, Qt::QueuedConnection);
  if (std::exception_ptr error = call->Wait()) std::rethrow_exception(std::move(error));
}

bool TQtMainThread::IsMainThread() const { return QThread::currentThread() == FContext->thread(); }

void TQtMainThread::CheckSynchronize() {
  std::deque<std::shared_ptr<TSyncCall>> calls;
  {
    std::lock_guard guard(FLock);
    calls.swap(FSyncCalls);
  }
  for (auto& call : calls) call->Run();
}

TQtMainThreadInstallation::TQtMainThreadInstallation() { InstallMainThread(&FThread); }

TQtMainThreadInstallation::~TQtMainThreadInstallation() { InstallMainThread(nullptr); }
