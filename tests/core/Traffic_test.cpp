// The traffic record: entries from the frame hook, the trace line, the
// bounded store and inbox, the statistics, and telling queries from replies
// on a monitored line.
#include <gtest/gtest.h>

#include "ExchangeTracker.h"
#include "RtuFrameSplitter.h"
#include "TrafficInbox.h"
#include "TrafficStatistics.h"
#include "TrafficStore.h"

namespace {

using namespace std::chrono_literals;

TFrameRecord Record(TFrameDirection Direction, TFrameOutcome Outcome,
                    std::vector<std::uint8_t> Bytes, std::chrono::nanoseconds ResponseTime = 0ns,
                    TFrameFraming Framing = TFrameFraming::ffRtu) {
  TFrameRecord record;
  record.Time = std::chrono::steady_clock::now();
  record.Direction = Direction;
  record.Framing = Framing;
  record.Outcome = Outcome;
  record.Bytes = std::move(Bytes);
  record.ResponseTime = ResponseTime;
  return record;
}

TTrafficEntry Numbered(int N) {
  TTrafficEntry entry;
  entry.Summary = std::to_string(N);
  return entry;
}

TEST(TrafficEntryTest, TraceLineShowsTimeDirectionBytesSummaryAndResponseTime) {
  const auto sent = MasterTrafficEntry(Record(TFrameDirection::fdSent, TFrameOutcome::foOk,
                                              {0, 1, 0, 0, 0, 6, 0, 3, 0, 0, 0, 0x7C}, 0ns,
                                              TFrameFraming::ffTcp));
  const std::string line = TrafficLine(sent);
  ASSERT_GT(line.size(), 12u);
  EXPECT_EQ(line.substr(2, 1) + line.substr(5, 1) + line.substr(8, 1), "::.");
  EXPECT_EQ(line.substr(12),
            " TX 00 01 00 00 00 06 00 03 00 00 00 7C  read holding registers 0+124");
  const auto reply = MasterTrafficEntry(
      Record(TFrameDirection::fdReceived, TFrameOutcome::foOk, {1, 3, 2, 0, 7, 0, 0}, 1260us));
  EXPECT_TRUE(TrafficLine(reply).ends_with(" RX 01 03 02 00 07 00 00  reply 1 register  1.3 ms"));
  EXPECT_EQ(FrameBytesText(TFrameFraming::ffAscii, {':', '0', '1', '\r', '\n'}), ":01<0D><0A>");
}

TEST(TrafficStoreTest, KeepsTheNewestEntriesUpToItsCapacity) {
  TTrafficStore store(3);
  std::size_t pushedOut = 0;
  for (int n = 1; n <= 5; ++n) pushedOut += store.Add(Numbered(n));
  store.DropOldest(1);
  pushedOut += store.Add(Numbered(6));
  EXPECT_EQ(pushedOut, 2u);
  ASSERT_EQ(store.Size(), 3u);
  EXPECT_EQ(store.At(0).Summary + store.At(1).Summary + store.At(2).Summary, "456");
  EXPECT_THROW(store.At(3), std::out_of_range);
  store.Clear();
  EXPECT_EQ(store.Size(), 0u);
}

TEST(TrafficInboxTest, AReaderThatFallsBehindGetsTheNewestAndTheCountDropped) {
  TTrafficInbox inbox(4);
  for (int n = 1; n <= 11; ++n) inbox.Push(Numbered(n));
  std::uint64_t dropped = 0;
  const auto taken = inbox.TakeAll(&dropped);
  ASSERT_EQ(taken.size(), 4u);
  EXPECT_EQ(taken.front().Summary, "8");
  EXPECT_EQ(taken.back().Summary, "11");
  EXPECT_EQ(dropped, 7u);
  EXPECT_TRUE(inbox.Empty());
}

TEST(TrafficStatisticsTest, CountsEachOutcomeAndTimesTheReplies) {
  TTrafficStatistics stats;
  EXPECT_EQ(stats.Line(),
            "requests 0, replies 0, time-outs 0, exceptions 0, frame errors 0, "
            "response ms min - avg - max -");
  const std::vector<std::uint8_t> reply{1, 3, 2, 0, 7, 0, 0};
  const TFrameRecord records[] = {
      Record(TFrameDirection::fdSent, TFrameOutcome::foOk, {1, 3, 0, 0, 0, 1, 0, 0}),
      Record(TFrameDirection::fdReceived, TFrameOutcome::foOk, reply, 400us),
      Record(TFrameDirection::fdReceived, TFrameOutcome::foOk, reply, 1100us),
      Record(TFrameDirection::fdReceived, TFrameOutcome::foException, {1, 0x83, 2, 0, 0}, 300us),
      Record(TFrameDirection::fdReceived, TFrameOutcome::foTimeout, {}, 1000ms),
      Record(TFrameDirection::fdReceived, TFrameOutcome::foChecksumError, reply),
      Record(TFrameDirection::fdReceived, TFrameOutcome::foChecksumError, reply, 0ns,
             TFrameFraming::ffAscii),
      Record(TFrameDirection::fdReceived, TFrameOutcome::foLengthError, {1}),
  };
  for (const TFrameRecord& record : records) stats.Add(MasterTrafficEntry(record));
  // A monitor hears an exception reply as a well-formed frame.
  stats.Add(MonitorTrafficEntry(
      Record(TFrameDirection::fdReceived, TFrameOutcome::foOk, {1, 0x83, 2, 0, 0}),
      TFrameRole::frReply, std::nullopt));
  EXPECT_EQ(stats.CrcErrors(), 1u);
  EXPECT_EQ(stats.LrcErrors(), 1u);
  EXPECT_EQ(stats.ResponseTimes()->Last, 300us);
  EXPECT_EQ(stats.Line(),
            "requests 1, replies 2, time-outs 1, exceptions 2, frame errors 3, "
            "response ms min 0.3 avg 0.6 max 1.1");
  stats.Reset();
  EXPECT_EQ(stats.Requests() + stats.FrameErrors(), 0u);
  EXPECT_FALSE(stats.ResponseTimes());
}

// A monitor's library calls every frame with a right check ok; one whose
// length fits no request or reply of its function is invalid all the same.
TEST(TrafficEntryTest, MonitoredFrameWhoseLengthFitsNoFunctionIsALengthError) {
  const std::vector<std::uint8_t> pdus[] = {
      {3, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},  // a byte count of 255, 10 bytes after it
      {0x83},                                   // an exception without its code
      {0x10, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},     // write multiple registers, cut short
      {0x16, 0, 0},                             // mask write register, cut short
  };
  TTrafficStatistics stats;
  for (const auto& pdu : pdus) {
    std::vector<std::uint8_t> frame{1};
    frame.insert(frame.end(), pdu.begin(), pdu.end());
    frame.insert(frame.end(), {0, 0});  // the CRC, taken as right
    const TFrameRecord record = Record(TFrameDirection::fdReceived, TFrameOutcome::foOk, frame);
    TExchangeTracker tracker;
    const TTrafficEntry entry =
        MonitorTrafficEntry(record, tracker.Classify(record).Role, std::nullopt);
    EXPECT_TRUE(IsInvalidFrame(entry)) << entry.Summary;
    EXPECT_EQ(entry.Role, TFrameRole::frUnknown) << entry.Summary;
    stats.Add(entry);
  }
  EXPECT_EQ(stats.LengthErrors(), 4u);
  EXPECT_EQ(stats.Replies() + stats.Requests() + stats.Exceptions(), 0u);
}

// On a monitored line every frame is received: the tracker pairs each reply
// with the query before it, even where query and reply look the same.
TEST(ExchangeTrackerTest, PairsRepliesWithTheirQueries) {
  struct TStep {
    std::vector<std::uint8_t> Bytes;
    TFrameOutcome Outcome;
    TFrameRole Role;
    bool Timed;
  };
  const TStep steps[] = {
      {{1, 6, 0, 1, 0, 5, 0, 0}, TFrameOutcome::foOk, TFrameRole::frRequest, false},
      {{1, 6, 0, 1, 0, 5, 0, 0}, TFrameOutcome::foOk, TFrameRole::frReply, true},  // the echo
      {{1, 1, 0, 0, 0, 16, 0, 0}, TFrameOutcome::foOk, TFrameRole::frRequest, false},
      {{1, 1, 3, 0, 0, 0, 0, 0}, TFrameOutcome::foOk, TFrameRole::frReply, true},  // request-sized
      {{2, 3, 0, 0, 0, 1, 0, 0}, TFrameOutcome::foOk, TFrameRole::frRequest, false},
      {{2, 3, 0}, TFrameOutcome::foChecksumError, TFrameRole::frUnknown, false},
      {{2, 3, 2, 0, 1, 0, 0}, TFrameOutcome::foOk, TFrameRole::frReply, false},  // query lost
      {{3, 3, 0, 0, 0, 1, 0, 0}, TFrameOutcome::foOk, TFrameRole::frRequest, false},
      {{3, 0x83, 2, 0, 0}, TFrameOutcome::foException, TFrameRole::frReply, true},
  };
  TExchangeTracker tracker;
  for (const TStep& step : steps) {
    const auto verdict =
        tracker.Classify(Record(TFrameDirection::fdReceived, step.Outcome, step.Bytes));
    EXPECT_EQ(verdict.Role, step.Role) << FrameBytesText(TFrameFraming::ffRtu, step.Bytes);
    EXPECT_EQ(verdict.ResponseTime.has_value(), step.Timed)
        << FrameBytesText(TFrameFraming::ffRtu, step.Bytes);
  }
}

}  // namespace

namespace {

// Frames a monitor received as one, for want of the silence between them.
TEST(RtuFrameSplitterTest, SeparatesFramesThatArrivedTogetherAndNothingElse) {
  const std::vector<std::uint8_t> query{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD};
  const std::vector<std::uint8_t> reply{0x01, 0x03, 0x02, 0x00, 0x07, 0xF9, 0x86};
  std::vector<std::uint8_t> both = query;
  both.insert(both.end(), reply.begin(), reply.end());
  TFrameRecord merged = Record(TFrameDirection::fdReceived, TFrameOutcome::foChecksumError, both);
  const auto frames = SeparateMonitoredFrames(merged);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].Bytes, query);
  EXPECT_EQ(frames[1].Bytes, reply);
  EXPECT_EQ(frames[1].Outcome, TFrameOutcome::foOk);

  both.back() ^= 1;  // one bad CRC: the whole is reported as it came
  merged.Bytes = both;
  EXPECT_EQ(SeparateMonitoredFrames(merged).size(), 1u);
  EXPECT_TRUE(SplitRtuFrames(query).empty());  // a single frame is no split
}

}  // namespace
