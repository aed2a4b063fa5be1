#include "ReusableThread.h"

#include <stdexcept>
#include <utility>

TReusableThread::~TReusableThread() {
  {
    std::lock_guard Guard(FLock);
    FQuit = true;
  }
  FChanged.notify_all();
  if (FThread.joinable()) FThread.join();
}

void TReusableThread::Start(std::function<void()> Job) {
  std::unique_lock Guard(FLock);
  if (FBusy) throw std::logic_error("TReusableThread: the last job has not been joined");
  FJob = std::move(Job);
  FBusy = true;
  if (FThread.joinable() && !FRetired) {
    Guard.unlock();
    FChanged.notify_all();
    return;
  }
  if (FThread.joinable()) FThread.join();  // retired: it takes the lock no more
  FRetired = false;
  FThread = std::thread([this] { Loop(); });
}

void TReusableThread::Join() {
  std::unique_lock Guard(FLock);
  FChanged.wait(Guard, [this] { return !FBusy; });
}

void TReusableThread::RetireAfterJob() {
  std::lock_guard Guard(FLock);
  FRetire = true;
}

void TReusableThread::Loop() {
  std::unique_lock Guard(FLock);
  for (;;) {
    FChanged.wait(Guard, [this] { return FJob || FQuit; });
    if (!FJob) return;
    std::function<void()> Job = std::move(FJob);
    FJob = nullptr;
    Guard.unlock();
    Job();
    Job = nullptr;  // what the job captured goes before the joiner goes on
    Guard.lock();
    FBusy = false;
    FRetired = std::exchange(FRetire, false);
    FChanged.notify_all();
    if (FRetired) return;
  }
}
