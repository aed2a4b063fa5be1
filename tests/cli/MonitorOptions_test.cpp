// kq517mon's command line, and a port that cannot be opened.
#include "MonitorOptions.h"

#include <gtest/gtest.h>

#include <sstream>

#include "LineMonitor.h"

namespace {

TEST(MonitorOptionsTest, ReadsTheLineSettingsAndRefusesWhatNoLineHas) {
  TMonitorOptions o;
  const auto parsed = ParseMonitorOptions(
      {"--serial", "ttyUSB0", "--baud", "9600", "--parity", "even", "--stop-bits", "2", "--mode",
       "ascii", "--format", "jsonl", "--fast-framing"},
      o);
  ASSERT_EQ(parsed.Action, TCommandLine::TAction::Run) << parsed.Text;
  EXPECT_EQ(o.BaudRate, 9600u);
  EXPECT_EQ(o.Parity, psEven);
  EXPECT_EQ(o.StopBits, sb2);
  EXPECT_EQ(o.Mode, tmASCII);
  EXPECT_EQ(o.Format, EMonitorFormat::mfJsonl);
  EXPECT_TRUE(o.FrameEndByLength);
  for (const std::vector<std::string>& bad :
       std::vector<std::vector<std::string>>{{},
                                             {"--serial", "x", "--stop-bits", "3"},
                                             {"--serial", "x", "--format", "csv"},
                                             {"--serial", "x", "--baud", "0"}}) {
    TMonitorOptions ignored;
    EXPECT_EQ(ParseMonitorOptions(bad, ignored).Action, TCommandLine::TAction::Error) << bad.size();
  }
}

TEST(LineMonitorTest, APortThatCannotBeOpenedEndsWithItsReason) {
  TMonitorOptions o;
  o.Port = "/dev/kq517-no-such-port";
  std::ostringstream out, err;
  const TStopSignal stop;
  EXPECT_EQ(RunLineMonitor(o, out, err, stop), 1);
  EXPECT_NE(err.str().find("/dev/kq517-no-such-port"), std::string::npos) << err.str();
  EXPECT_TRUE(out.str().empty());
}

}  // namespace
