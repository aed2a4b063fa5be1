// The poller's serial options: defaults, accepted values, and the
// combinations that are refused.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PollOptions.h"

namespace {

TParsedCommandLine Parse(const std::vector<std::string>& arguments) {
  return ParsePollCommandLine(arguments);
}

TEST(SerialPollOptions, DefaultsAreTheWindowsAndEveryOptionIsTaken) {
  const auto plain = Parse({"--serial", "/dev/ttyUSB0"});
  ASSERT_EQ(plain.Action, TParsedCommandLine::TAction::Poll) << plain.Error;
  ASSERT_EQ(plain.Options.Transport, ETransport::trSerial);
  const TSerialTarget& target = plain.Options.Serial;
  EXPECT_EQ(target.Port, "/dev/ttyUSB0");
  EXPECT_EQ(target.BitRate, 115200u);
  EXPECT_EQ(target.Parity, psNone);
  EXPECT_EQ(target.SlaveAddress, 1);
  EXPECT_FALSE(target.FrameEndByLength);
  EXPECT_EQ(target.Mode, tmRTU);
  EXPECT_EQ(target.DataBits, db8);
  EXPECT_EQ(target.StopBits, sb1);
  EXPECT_EQ(plain.Options.Function, EReadFunction::rfHoldingRegisters);

  // The serial settings may come before --serial too.
  const auto full =
      Parse({"--baud=9600", "--serial",       "ttyS1",   "--parity",   "even",      "--slave",
             "247",         "--fast-framing", "--meter", "3",          "--float32", "--format",
             "csv",         "--count",        "2",       "--mode",     "ascii",     "--data-bits",
             "7",           "--stop-bits",    "2",       "--function", "4"});
  ASSERT_EQ(full.Action, TParsedCommandLine::TAction::Poll) << full.Error;
  const TSerialTarget& set = full.Options.Serial;
  EXPECT_EQ(set.Port, "ttyS1");
  EXPECT_EQ(set.BitRate, 9600u);
  EXPECT_EQ(set.Parity, psEven);
  EXPECT_EQ(set.SlaveAddress, 247);
  EXPECT_TRUE(set.FrameEndByLength);
  EXPECT_EQ(full.Options.MeterInstanceIndex, 2);
  EXPECT_TRUE(full.Options.Float32);
  EXPECT_EQ(full.Options.Count, 2);
  EXPECT_EQ(set.Mode, tmASCII);
  EXPECT_EQ(set.DataBits, db7);
  EXPECT_EQ(set.StopBits, sb2);
  EXPECT_EQ(full.Options.Function, EReadFunction::rfInputRegisters);

  // A serial device server is reached within the connect time-out.
  const auto server =
      Parse({"--serial", "tcp://10.0.0.9:4001", "--connect-timeout", "1.5", "--leave-open"});
  ASSERT_EQ(server.Action, TParsedCommandLine::TAction::Poll) << server.Error;
  EXPECT_EQ(server.Options.Tcp.ConnectTimeoutSeconds, 1.5);
  EXPECT_TRUE(server.Options.LeaveOpen);
  EXPECT_EQ(Parse({"--scan-serial", "tcp://h:4001", "--slaves", "1-3", "--mode", "ascii"}).Action,
            TParsedCommandLine::TAction::Poll);

  // Any rate the port takes, as kq517sim and kq517mon take it.
  const std::pair<const char*, std::uint32_t> rates[] = {
      {"4800", 4800}, {"19200", 19200}, {"57600", 57600}, {"250000", 250000}};
  for (const auto& [text, rate] : rates)
    EXPECT_EQ(Parse({"--serial", "p", "--baud", text}).Options.Serial.BitRate, rate);
  EXPECT_EQ(Parse({"--serial", "p", "--parity", "odd"}).Options.Serial.Parity, psOdd);
}

TEST(SerialPollOptions, BadValuesAndCombinationsAreUsageErrors) {
  const std::vector<std::vector<std::string>> refused = {
      {"--serial", "p", "--baud", "40"},
      {"--serial", "p", "--baud", "4000001"},
      {"--serial", "p", "--baud", ""},
      {"--serial", "p", "--parity", "mark"},
      {"--serial", "p", "--slave", "0"},    // a broadcast gets no reply
      {"--serial", "p", "--slave", "248"},  // reserved on a Modbus serial line
      {"--serial", "p", "--slave", "-1"},
      {"--serial", ""},
      {"--serial"},
      {"--tcp", "127.0.0.1", "--baud", "9600"},
      {"--tcp", "127.0.0.1", "--slave", "2"},
      {"--tcp", "127.0.0.1", "--fast-framing"},
      {"--serial", "p", "--tcp", "127.0.0.1"},
      {"--serial", "p", "--leave-open"},
      {"--baud", "9600"},
      {"--serial", "p", "--mode", "tcp"},
      {"--serial", "p", "--data-bits", "6"},
      {"--serial", "p", "--stop-bits", "1.5"},
      {"--serial", "p", "--function", "0"},
      {"--serial", "p", "--function", "03"},
      {"--tcp", "127.0.0.1", "--mode", "ascii"},
      {"--serial", "/dev/ttyUSB0", "--connect-timeout", "2"},  // no connection to time
      {"--scan-serial", "tcp://h:4001", "--bauds", "9600"},    // the server's own rate
      {"--scan-serial", "p", "--function", "4"},
  };
  for (const auto& arguments : refused) {
    const auto parsed = Parse(arguments);
    std::string line;
    for (const auto& a : arguments) line += a + " ";
    EXPECT_EQ(parsed.Action, TParsedCommandLine::TAction::Error) << line;
    EXPECT_FALSE(parsed.Error.empty()) << line;
  }
  EXPECT_NE(PollUsage("kq517poll").find("--serial PORT"), std::string::npos);
}

}  // namespace
