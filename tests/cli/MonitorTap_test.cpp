// The monitor's tap counts every frame the line carried, also those the
// printing fell behind on.
#include "MonitorTap.h"

#include <gtest/gtest.h>

#include "FrameBytes.h"

TEST(MonitorTap, CountsTheFramesTheOutputDidNotKeepUpWith) {
  TMonitorTap tap(4);
  TFrameRecord query;
  query.Time = std::chrono::steady_clock::now();
  query.Direction = TFrameDirection::fdReceived;
  query.Framing = TFrameFraming::ffRtu;
  query.Bytes = serialtest::Rtu({1, 3, 0, 0, 0, 10});
  for (int i = 0; i < 10; ++i) tap.Take(query);
  std::uint64_t dropped = 0;
  EXPECT_EQ(tap.TakeAll(&dropped).size(), 4u);
  EXPECT_EQ(dropped, 6u);
  EXPECT_EQ(tap.Statistics().Requests(), 10u);
}
