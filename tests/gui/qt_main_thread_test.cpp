// The serial library's main-thread seam on Qt: posted and synchronized calls
// from worker threads run on the GUI thread, in order, and a GUI thread that
// waits for a worker without running its event loop still serves that
// worker's synchronized calls.

#include <gtest/gtest.h>

#include <QThread>
#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "GuiTestSupport.h"
#include "QtMainThread.h"

namespace {

class QtMainThreadTest : public ::testing::Test {
 protected:
  void SetUp() override { EnsureApplication(); }
  TQtMainThread mainThread;
};

TEST_F(QtMainThreadTest, PostedCallsRunOnTheGuiThreadInOrderAndFailuresGoToTheHandler) {
  std::vector<int> order;
  std::atomic<bool> offGuiThread{false};
  std::string reported;
  SetApplicationExceptionHandler([&](std::exception_ptr error) {
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      reported = e.what();
    }
  });
  std::thread worker([&] {
    EXPECT_FALSE(mainThread.IsMainThread());
    for (int i = 0; i < 100; ++i)
      mainThread.Post([&, i] {
        if (!mainThread.IsMainThread()) offGuiThread = true;
        order.push_back(i);
      });
    mainThread.Post([] { throw std::runtime_error("worker failure"); });
  });
  worker.join();
  EXPECT_TRUE(order.empty());  // nothing runs until the event loop does
  ASSERT_TRUE(ProcessEventsUntil([&] { return !reported.empty(); }));
  SetApplicationExceptionHandler(nullptr);
  EXPECT_FALSE(offGuiThread);
  ASSERT_EQ(order.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
  EXPECT_EQ(reported, "worker failure");
}

TEST_F(QtMainThreadTest, SynchronizeWaitsForTheGuiThreadAndRaisesWhatTheCallRaised) {
  EXPECT_TRUE(mainThread.IsMainThread());
  int direct = 0;
  mainThread.Synchronize([&] { ++direct; });  // on the GUI thread: at once
  EXPECT_EQ(direct, 1);

  std::atomic<int> stage{0};
  Qt::HANDLE ranOn = nullptr;
  std::string raised;
  std::thread worker([&] {
    mainThread.Synchronize([&] { ranOn = QThread::currentThreadId(); });
    stage = 1;
    try {
      mainThread.Synchronize([] { throw std::runtime_error("refused"); });
    } catch (const std::runtime_error& e) {
      raised = e.what();
    }
    stage = 2;
  });
  ASSERT_TRUE(ProcessEventsUntil([&] { return stage == 2; }));
  worker.join();
  EXPECT_EQ(ranOn, QThread::currentThreadId());
  EXPECT_EQ(raised, "refused");
}

TEST_F(QtMainThreadTest, CheckSynchronizeServesAWorkerWhileTheGuiThreadWaitsForIt) {
  std::atomic<bool> done{false};
  bool ran = false;
  std::thread worker([&] {
    mainThread.Synchronize([&] { ran = true; });
    done = true;
  });
  // The GUI thread waits for the worker without running its event loop, as
  // it does while closing a port; a blocking-queued call would never run.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!done && std::chrono::steady_clock::now() < deadline) {
    mainThread.CheckSynchronize();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_TRUE(done);
  EXPECT_TRUE(ran);
  if (!done) ProcessEventsUntil([&] { return done.load(); });
  worker.join();
  ProcessEventsFor(10);  // the posted trigger finds nothing left to run
}

}  // namespace
