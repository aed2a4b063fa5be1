#include "PollableMainThread.h"

#include <stdexcept>

TPollableMainThread::TPollableMainThread() : FOwner(std::this_thread::get_id()) {}

TPollableMainThread::~TPollableMainThread() {
  // A worker still waiting in Synchronize learns that its call will never run.
  std::deque<TItem> remaining;
  {
    std::lock_guard guard(FLock);
    remaining.swap(FQueue);
  }
  for (auto& item : remaining) {
    if (!item.Sync) continue;
    std::lock_guard guard(item.Sync->Lock);
    item.Sync->Error = std::make_exception_ptr(std::runtime_error("main loop has ended"));
    item.Sync->Done = true;
    item.Sync->DoneSignal.notify_all();
  }
}

void TPollableMainThread::Enqueue(TItem Item) {
  {
    std::lock_guard guard(FLock);
    FQueue.push_back(std::move(Item));
  }
  // After the push, so that the loop never drains the signal before the call is there.
  FWake.Signal();
}

void TPollableMainThread::Post(std::function<void()> Fn) {
  Enqueue(TItem{std::move(Fn), nullptr});
}

void TPollableMainThread::Synchronize(std::function<void()> Fn) {
  if (IsMainThread()) {
    Fn();
    return;
  }
  auto call = std::make_shared<TSyncCall>();
  call->Fn = std::move(Fn);
  Enqueue(TItem{nullptr, call});
  std::unique_lock wait(call->Lock);
  call->DoneSignal.wait(wait, [&] { return call->Done; });
  if (call->Error) std::rethrow_exception(call->Error);
}

void TPollableMainThread::Run(TItem& Item) {
  if (!Item.Sync) {
    try {
      Item.Fn();
    } catch (...) {
      HandleApplicationException(std::current_exception());
    }
    return;
  }
  std::exception_ptr error;
  try {
    Item.Sync->Fn();
  } catch (...) {
    error = std::current_exception();
  }
  std::lock_guard guard(Item.Sync->Lock);
  Item.Sync->Error = error;
  Item.Sync->Done = true;
  Item.Sync->DoneSignal.notify_all();
}

void TPollableMainThread::RunPending() {
  FWake.Drain();
  std::deque<TItem> batch;
  {
    std::lock_guard guard(FLock);
    batch.swap(FQueue);
  }
  for (auto& item : batch) Run(item);
}

void TPollableMainThread::CheckSynchronize() {
  std::deque<TItem> calls;
  {
    std::lock_guard guard(FLock);
    for (auto it = FQueue.begin(); it != FQueue.end();) {
      if (it->Sync) {
        calls.push_back(std::move(*it));
        it = FQueue.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& item : calls) Run(item);
}
