// When a poll's cycles run: one at a time, a tick skipped while one is in
// flight, a change of settings restarting it, nothing heard after a stop, and
// the end (or a fresh start) after a failure.
#include "PollSchedule.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>

namespace {

using namespace std::chrono_literals;

// Lets the reads of cycles up to a number finish; shared with their threads,
// which may outlive the test.
struct TGate {
  std::mutex Lock;
  std::condition_variable Opened;
  int Released = 0;

  void Release(int Cycle) {
    {
      const std::lock_guard<std::mutex> lock(Lock);
      Released = Cycle;
    }
    Opened.notify_all();
  }
};

struct PollScheduleTest : ::testing::Test {
  ~PollScheduleTest() override { Gate->Release(1000); }

  // Cycle n reads until the gate lets n through; it fails, ending the poll,
  // when n is one of Failing.
  TPollSchedule::TRead Prepare() {
    const int cycle = ++Prepared;
    return [this, gate = Gate, cycle]() -> TPollSchedule::TFinish {
      std::unique_lock<std::mutex> lock(gate->Lock);
      gate->Opened.wait(lock, [&] { return gate->Released >= cycle; });
      return [this, cycle] {
        TCycleOutcome outcome;
        outcome.BaseAddress = static_cast<std::uint16_t>(cycle);
        outcome.Ok = Failing.count(cycle) == 0;
        outcome.EndsPoll = !outcome.Ok;
        return outcome;
      };
    };
  }
  bool Drain(const std::function<bool()>& Done) { return Main.ProcessMessagesUntil(Done, 5s); }

  TQueuedMainThread Main;
  std::shared_ptr<TGate> Gate = std::make_shared<TGate>();
  int Prepared = 0;
  std::set<int> Failing;
  std::vector<int> Heard;  // the cycles whose outcome was handed on
  int Ended = 0;
  int Restarts = 0;
  TPollSchedule Schedule{Main, [this] { return Prepare(); }};

  void SetUp() override {
    Schedule.OnOutcome = [this](const TCycleOutcome& Outcome) {
      Heard.push_back(Outcome.BaseAddress);
    };
    Schedule.OnEnded = [this](const TCycleOutcome&) { ++Ended; };
    Schedule.OnRestart = [this] { ++Restarts; };
  }
};

TEST_F(PollScheduleTest, OneCycleAtATimeNothingAfterAStopAndTheEndAfterAFailure) {
  Schedule.Start();
  EXPECT_EQ(Prepared, 1);
  Schedule.Tick();
  EXPECT_EQ(Prepared, 1) << "a tick while a cycle runs is skipped";

  // New settings: the cycle in flight was read for the old ones.
  Schedule.Restart();
  Gate->Release(1);
  ASSERT_TRUE(Drain([&] { return Prepared == 2; })) << "the next follows once its thread ends";
  Gate->Release(2);
  ASSERT_TRUE(Drain([&] { return !Heard.empty(); }));
  EXPECT_EQ(Heard, std::vector<int>{2});

  Schedule.Tick();
  EXPECT_EQ(Prepared, 3);
  Schedule.Stop();
  Gate->Release(3);
  ASSERT_TRUE(Drain([&] { return !Schedule.Busy(); }));
  EXPECT_EQ(Heard, std::vector<int>{2}) << "nothing is heard after a stop";

  Failing = {4, 5};
  Schedule.Start();
  Gate->Release(4);
  ASSERT_TRUE(Drain([&] { return Ended == 1; }));
  EXPECT_FALSE(Schedule.On());
  EXPECT_EQ(Heard, (std::vector<int>{2, 4})) << "the failure is shown before the poll ends";

  // Asked to go on, the poll starts afresh instead.
  Schedule.KeepGoing = true;
  Schedule.Start();
  Gate->Release(5);
  ASSERT_TRUE(Drain([&] { return Restarts == 1; }));
  EXPECT_TRUE(Schedule.On());
  EXPECT_EQ(Ended, 1);
}

}  // namespace
