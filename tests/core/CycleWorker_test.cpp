// The TCP cycle's worker: one job at a time, results on the main thread, and
// nothing heard from a job that was dropped or whose owner is gone.
#include "CycleWorker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

namespace {

using namespace std::chrono_literals;

struct WorkerTest : ::testing::Test {
  // A job that waits until Release is set and counts its continuations.
  TCycleWorker::TJob Job() {
    return [this, released = Released]() -> TCycleWorker::TContinuation {
      released.wait();
      Ended = true;
      return [this] { ++Continued; };
    };
  }
  bool Drain(const std::function<bool()>& Done) { return Main.ProcessMessagesUntil(Done, 5s); }

  TQueuedMainThread Main;
  std::promise<void> Release;
  std::shared_future<void> Released = Release.get_future().share();
  std::atomic<bool> Ended{false};
  int Continued = 0;
  int Idle = 0;
};

// One job at a time; a dropped job's result is never heard, though the owner
// learns when its thread is free again.
TEST_F(WorkerTest, OneJobAtATimeAndADroppedOneEndsUnheard) {
  TCycleWorker worker(Main);
  worker.OnIdle = [&] { ++Idle; };
  ASSERT_TRUE(worker.Start(Job()));
  EXPECT_FALSE(worker.Start(Job())) << "a second job while one is in flight";
  worker.Drop();
  EXPECT_TRUE(worker.Busy()) << "its thread still runs";
  Release.set_value();
  ASSERT_TRUE(Drain([&] { return !worker.Busy(); }));
  EXPECT_EQ(Continued, 0);
  EXPECT_EQ(Idle, 1);

  ASSERT_TRUE(worker.Start(Job()));
  ASSERT_TRUE(Drain([&] { return !worker.Busy(); }));
  EXPECT_EQ(Continued, 1) << "the next job's result reaches the main thread";
}

TEST_F(WorkerTest, OwnerDestroyedWhileAJobWaitsReturnsAtOnceAndHearsNothing) {
  auto worker = std::make_unique<TCycleWorker>(Main);
  worker->OnIdle = [&] { ++Idle; };
  ASSERT_TRUE(worker->Start(Job()));
  const auto before = std::chrono::steady_clock::now();
  worker.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
  Release.set_value();
  for (int i = 0; i < 5000 && !Ended; ++i) std::this_thread::sleep_for(1ms);
  ASSERT_TRUE(Ended);
  Main.ProcessMessagesUntil([] { return false; }, 100ms);
  EXPECT_EQ(Continued + Idle, 0);
}

}  // namespace
