#include "QtMainThread.h"

#include <QCoreApplication>
#include <QEvent>
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

namespace {

// Where the posted events land, on the thread the seam was made on. An event
// carries nothing: it only wakes that thread, which takes the calls from the
// lists under the lock. So no memory that a posting thread wrote is read
// here without that lock, not even the event's (Qt's queue hands it over
// under a lock of its own, which thread checkers cannot see).
class TWakeTarget final : public QObject {
 public:
  explicit TWakeTarget(std::function<void()> Wake) : FWake(std::move(Wake)) {}

 protected:
  void customEvent(QEvent*) override { FWake(); }

 private:
  std::function<void()> FWake;
};

}  // namespace

TQtMainThread::TQtMainThread()
    : FContext(std::make_unique<TWakeTarget>([this] {
        RunPostedCalls();
        CheckSynchronize();
      })) {}

void TQtMainThread::Wake() {
  QCoreApplication::postEvent(FContext.get(), new QEvent(QEvent::User));
}

TQtMainThread::~TQtMainThread() {
  FContext.reset();
  std::deque<std::shared_ptr<TSyncCall>> waiting;
  std::deque<std::function<void()>> dropped;  // destroyed outside the lock
  {
    std::lock_guard guard(FLock);
    waiting.swap(FSyncCalls);
    dropped.swap(FPostedCalls);
  }
  for (auto& call : waiting)
    call->Finish(std::make_exception_ptr(std::runtime_error("the main thread has ended")));
}

// The call waits in a list of our own, and the event posted for it runs the
// list: the hand-over between the threads then happens under FLock, where
// thread checkers see it, not only inside Qt's event queue. Each event runs
// whatever is in the list by then, so calls keep the order they were posted in.
void TQtMainThread::Post(std::function<void()> Fn) {
  {
    std::lock_guard guard(FLock);
    FPostedCalls.push_back(std::move(Fn));
  }
  Wake();
}

void TQtMainThread::RunPostedCalls() {
  std::deque<std::function<void()>> calls;
  {
    std::lock_guard guard(FLock);
    calls.swap(FPostedCalls);
  }
  for (auto& fn : calls) {
    try {
      fn();
    } catch (...) {
      HandleApplicationException(std::current_exception());
    }
  }
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
  // The wake runs whatever is in the list by then; a call already taken by
  // CheckSynchronize leaves nothing for it to do.
  Wake();
  if (std::exception_ptr error = call->Wait()) std::rethrow_exception(std::move(error));
}

bool TQtMainThread::IsMainThread() const {
  return QThread::currentThread() == FContext->thread();
}

void TQtMainThread::CheckSynchronize() {
  std::deque<std::shared_ptr<TSyncCall>> calls;
  {
    std::lock_guard guard(FLock);
    calls.swap(FSyncCalls);
  }
  for (auto& call : calls) call->Run();
}

TQtMainThreadInstallation::TQtMainThreadInstallation() {
  InstallMainThread(&FThread);
}

TQtMainThreadInstallation::~TQtMainThreadInstallation() {
  InstallMainThread(nullptr);
}
