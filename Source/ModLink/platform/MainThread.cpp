#include "MainThread.h"

#include <atomic>
#include <cstdio>
#include <stdexcept>

struct TQueuedMainThread::TSyncCall {
  std::function<void()> Fn;
  std::mutex Lock;
  std::condition_variable DoneSignal;
  bool Done = false;
  std::exception_ptr Error;

  void Finish(std::exception_ptr E) {
    std::lock_guard Guard(Lock);
    Error = std::move(E);
    Done = true;
    DoneSignal.notify_all();
  }
};

TQueuedMainThread::TQueuedMainThread() : FOwner(std::this_thread::get_id()) {}

TQueuedMainThread::~TQueuedMainThread() {
  // Posted calls are dropped (what they captured is released with them); a
  // thread still waiting in Synchronize is told the call will never run.
  std::deque<TItem> Remaining;
  {
    std::lock_guard Guard(FLock);
    Remaining.swap(FQueue);
  }
  for (auto& Item : Remaining)
    if (Item.Sync)
      Item.Sync->Finish(std::make_exception_ptr(std::runtime_error("main thread queue destroyed")));
}

void TQueuedMainThread::Post(std::function<void()> Fn) {
  {
    std::lock_guard Guard(FLock);
    FQueue.push_back(TItem{std::move(Fn), nullptr});
  }
  FArrived.notify_all();
}

void TQueuedMainThread::Synchronize(std::function<void()> Fn) {
  if (IsMainThread()) {
    Fn();
    return;
  }
  auto Call = std::make_shared<TSyncCall>();
  Call->Fn = std::move(Fn);
  {
    std::lock_guard Guard(FLock);
    FQueue.push_back(TItem{nullptr, Call});
  }
  FArrived.notify_all();
  std::unique_lock Wait(Call->Lock);
  Call->DoneSignal.wait(Wait, [&] { return Call->Done; });
  // The error leaves the call: the waiting thread holds the only reference, so the exception
  // object is released where it is used last (the reference count lives in the C++ runtime,
  // which a thread checker cannot see).
  std::exception_ptr Error = std::move(Call->Error);
  Wait.unlock();
  if (Error) std::rethrow_exception(Error);
}

bool TQueuedMainThread::IsMainThread() const {
  std::lock_guard Guard(FLock);
  return std::this_thread::get_id() == FOwner;
}

void TQueuedMainThread::SetOwnerThread(std::thread::id Id) {
  std::lock_guard Guard(FLock);
  FOwner = Id;
}

void TQueuedMainThread::RunItem(TItem& Item) {
  if (Item.Sync) {
    std::exception_ptr Error;
    try {
      Item.Sync->Fn();
    } catch (...) {
      Error = std::current_exception();
    }
    Item.Sync->Finish(std::move(Error));
    return;
  }
  try {
    Item.Fn();
  } catch (...) {
    HandleApplicationException(std::current_exception());
  }
}

int TQueuedMainThread::ProcessMessages() {
  // Only what is queued now: calls posted by the calls run here wait for the next round.
  std::deque<TItem> Batch;
  {
    std::lock_guard Guard(FLock);
    Batch.swap(FQueue);
  }
  int Count = 0;
  while (!Batch.empty()) {
    TItem Item = std::move(Batch.front());
    Batch.pop_front();
    RunItem(Item);
    ++Count;
  }
  return Count;
}

void TQueuedMainThread::CheckSynchronize() {
  std::deque<TItem> SyncCalls;
  {
    std::lock_guard Guard(FLock);
    for (auto It = FQueue.begin(); It != FQueue.end();) {
      if (It->Sync) {
        SyncCalls.push_back(std::move(*It));
        It = FQueue.erase(It);
      } else {
        ++It;
      }
    }
  }
  for (auto& Item : SyncCalls) RunItem(Item);
}

bool TQueuedMainThread::ProcessMessagesUntil(const std::function<bool()>& Predicate,
                                             std::chrono::milliseconds Timeout) {
  const auto Deadline = std::chrono::steady_clock::now() + Timeout;
  for (;;) {
    ProcessMessages();
    if (Predicate()) return true;
    std::unique_lock Guard(FLock);
    if (!FArrived.wait_until(Guard, Deadline, [&] { return !FQueue.empty(); })) {
      Guard.unlock();
      return Predicate();
    }
  }
}

std::size_t TQueuedMainThread::PendingCount() const {
  std::lock_guard Guard(FLock);
  return FQueue.size();
}

namespace {
std::atomic<TMainThread*> GInstalledMainThread{nullptr};
std::mutex GHandlerLock;
TApplicationExceptionHandler GHandler;
}  // namespace

TQueuedMainThread& DefaultMainThread() {
  static TQueuedMainThread Instance;
  return Instance;
}

TMainThread& MainThread() {
  if (TMainThread* Installed = GInstalledMainThread.load()) return *Installed;
  return DefaultMainThread();
}

void InstallMainThread(TMainThread* Thread) {
  GInstalledMainThread.store(Thread);
}

void SetApplicationExceptionHandler(TApplicationExceptionHandler Handler) {
  std::lock_guard Guard(GHandlerLock);
  GHandler = std::move(Handler);
}

void HandleApplicationException(std::exception_ptr E) noexcept {
  if (!E) return;
  TApplicationExceptionHandler Handler;
  {
    std::lock_guard Guard(GHandlerLock);
    Handler = GHandler;
  }
  try {
    if (Handler) {
      Handler(E);
      return;
    }
    std::rethrow_exception(E);
  } catch (const std::exception& Error) {
    std::fprintf(stderr, "%s\n", Error.what());
  } catch (...) {
    std::fprintf(stderr, "unknown exception\n");
  }
}
