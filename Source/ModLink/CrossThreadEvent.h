// An event handler that the main thread assigns and calls, while a worker thread asks
// whether one is assigned (to skip work nobody would see). The worker never touches the
// handler itself, only a flag kept beside it, so assigning never races with the question.
#pragma once

#include <atomic>
#include <functional>
#include <utility>

template <typename Signature>
class TCrossThreadEvent {
 public:
  TCrossThreadEvent& operator=(std::function<Signature> Handler) {
    FHandler = std::move(Handler);
    FAssigned.store(static_cast<bool>(FHandler), std::memory_order_release);
    return *this;
  }
  // Main thread.
  explicit operator bool() const { return static_cast<bool>(FHandler); }
  template <typename... TArgs>
  void operator()(TArgs&&... Args) const {
    FHandler(std::forward<TArgs>(Args)...);
  }
  // Any thread.
  bool Assigned() const { return FAssigned.load(std::memory_order_acquire); }

 private:
  std::function<Signature> FHandler;
  std::atomic<bool> FAssigned{false};
};
