#include "CycleWorker.h"

#include <exception>
#include <mutex>
#include <thread>

// What a worker thread shares with its owner: the way back to the main thread
// while the owner lives. The owner's destructor cuts it under the lock, so a
// thread that finishes later never reaches the owner or the main thread.
struct TCycleWorker::TLink {
  std::mutex Lock;
  TCycleWorker* Owner = nullptr;
  TMainThread* Main = nullptr;
};

TCycleWorker::TCycleWorker(TMainThread& Main) : FLink(std::make_shared<TLink>()) {
  FLink->Owner = this;
  FLink->Main = &Main;
}

TCycleWorker::~TCycleWorker() {
  std::lock_guard<std::mutex> lock(FLink->Lock);
  FLink->Owner = nullptr;
}

bool TCycleWorker::Start(TJob Job) {
  if (FBusy) return false;
  FBusy = true;
  FDropped = false;
  // Detached: a thread that waits for a silent device is never joined by
  // the main thread, which is how closing the window stays immediate.
  std::thread([link = FLink, job = std::move(Job)] {
    TContinuation continuation;
    try {
      continuation = job();
    } catch (...) {
      continuation = [error = std::current_exception()] { std::rethrow_exception(error); };
    }
    std::lock_guard<std::mutex> lock(link->Lock);
    if (link->Owner == nullptr) return;
    link->Main->Post([link, continuation = std::move(continuation)] {
      TCycleWorker* owner = nullptr;
      {
        std::lock_guard<std::mutex> ownerLock(link->Lock);
        owner = link->Owner;
      }
      if (owner != nullptr) owner->Finished(continuation);
    });
  }).detach();
  return true;
}

void TCycleWorker::Finished(const TContinuation& Continuation) {
  FBusy = false;
  const bool dropped = FDropped;
  FDropped = false;
  if (!dropped && Continuation) {
    try {
      Continuation();
    } catch (...) {
      HandleApplicationException(std::current_exception());
    }
  }
  if (OnIdle) OnIdle();
}
