#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "FrameHook.h"

namespace {
TFrameRecord RecordOf(std::vector<std::uint8_t> Bytes) {
  TFrameRecord record;
  record.Bytes = std::move(Bytes);
  return record;
}
}  // namespace

TEST(FrameHookTest, EveryListenerHearsEachFrameUntilItUnsubscribes) {
  TFrameHook hook;
  EXPECT_FALSE(hook.Active());
  int first = 0, second = 0;
  const auto a = hook.Subscribe([&](const TFrameRecord&) { ++first; });
  hook.Subscribe([&](const TFrameRecord& R) { second += static_cast<int>(R.Bytes.size()); });
  hook.Emit(RecordOf({1, 2, 3}));
  hook.Unsubscribe(a);
  hook.Unsubscribe(a);  // a second time changes nothing
  hook.Emit(RecordOf({4}));
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 4);
  EXPECT_TRUE(hook.Active());
}

// A listener removed while another thread emits is never called after
// Unsubscribe has returned, so its owner may be destroyed right after.
TEST(FrameHookTest, NoCallReachesAListenerAfterItsUnsubscribeReturned) {
  TFrameHook hook;
  std::atomic<bool> stop{false};
  std::thread emitter([&] {
    while (!stop.load()) hook.Emit(TFrameRecord{});
  });
  for (int round = 0; round < 200; ++round) {
    std::atomic<bool> removed{false};
    std::atomic<int> lateCalls{0};
    const auto token = hook.Subscribe([&](const TFrameRecord&) {
      if (removed.load()) ++lateCalls;
    });
    std::this_thread::yield();
    hook.Unsubscribe(token);
    removed.store(true);
    hook.Emit(TFrameRecord{});
    EXPECT_EQ(lateCalls.load(), 0);
  }
  stop.store(true);
  emitter.join();
}
