#include "PollOptions.h"

#include <gtest/gtest.h>

namespace {

TParsedCommandLine Parse(std::vector<std::string> Arguments) {
  return ParsePollCommandLine(Arguments);
}

TEST(PollOptions, DefaultsAndEveryOption) {
  auto plain = Parse({"--tcp", "meter.local"});
  ASSERT_EQ(plain.Action, TParsedCommandLine::TAction::Poll) << plain.Error;
  const TTcpTarget& tcp = plain.Options.Tcp;
  EXPECT_EQ(plain.Options.Transport, ETransport::trTcp);
  EXPECT_EQ(tcp.Host, "meter.local");
  EXPECT_EQ(tcp.Port, 502);
  EXPECT_EQ(tcp.UnitId, 0);
  EXPECT_EQ(tcp.ReplyTimeoutSeconds, 15);
  EXPECT_EQ(tcp.ConnectTimeoutSeconds, 5);
  EXPECT_EQ(plain.Options.MapFileName(), "map.cfg");
  EXPECT_EQ(plain.Options.Count, 1);
  EXPECT_EQ(plain.Options.IntervalSeconds, 2.0);
  EXPECT_EQ(plain.Options.Format, EOutputFormat::ofTable);
  EXPECT_FALSE(plain.Options.ByteSequenceIndex.has_value());

  auto all =
      Parse({"--tcp=10.0.0.9:1502", "--meter", "5", "--float32", "--byte-order", "3-2-1-0", "--map",
             "other.cfg", "--leave-open", "--interval=0.25", "--count", "7", "--format", "json"});
  ASSERT_EQ(all.Action, TParsedCommandLine::TAction::Poll) << all.Error;
  EXPECT_EQ(all.Options.Tcp.Port, 1502);
  EXPECT_EQ(all.Options.MeterInstanceIndex, 4);
  EXPECT_TRUE(all.Options.Float32);
  EXPECT_EQ(all.Options.ByteSequenceIndex, 3);
  EXPECT_EQ(all.Options.MapFileName(), "other.cfg");
  EXPECT_TRUE(all.Options.LeaveOpen);
  EXPECT_EQ(all.Options.IntervalSeconds, 0.25);
  EXPECT_EQ(all.Options.Count, 7);
  EXPECT_EQ(all.Options.Format, EOutputFormat::ofJson);

  auto machine =
      Parse({"--tcp", "h", "--unit", "255", "--timeout", "0.5", "--connect-timeout", "0",
             "--keep-going", "--format", "csv", "--timestamps", "--bom", "--log", "x.csv"});
  ASSERT_EQ(machine.Action, TParsedCommandLine::TAction::Poll) << machine.Error;
  EXPECT_EQ(machine.Options.Tcp.UnitId, 255);
  EXPECT_EQ(machine.Options.Tcp.ReplyTimeoutSeconds, 0.5);
  EXPECT_EQ(machine.Options.Tcp.ConnectTimeoutSeconds, 0);
  EXPECT_TRUE(machine.Options.KeepGoing && machine.Options.Timestamps && machine.Options.Bom);
  EXPECT_EQ(machine.Options.LogFile, "x.csv");

  // A metrics server polls until stopped, lives through failures and keeps
  // standard output for --format.
  auto served = Parse({"--tcp", "h", "--serve-metrics", "[::1]:9517"});
  ASSERT_EQ(served.Action, TParsedCommandLine::TAction::Poll) << served.Error;
  EXPECT_EQ(served.Options.MetricsAddress->Host, "::1");
  EXPECT_EQ(served.Options.MetricsAddress->Port, 9517);
  EXPECT_EQ(served.Options.Count, 0);
  EXPECT_TRUE(served.Options.KeepGoing && served.Options.Quiet);
  EXPECT_FALSE(Parse({"--tcp", "h", "--serve-metrics", "h:1", "--format", "jsonl"}).Options.Quiet);

  EXPECT_EQ(Parse({"--tcp", "h", "--qvzt"}).Options.MapFileName(), "qvztmap.cfg");
  EXPECT_EQ(Parse({"--tcp", "h", "--byte-order", "0 - 1 - 2 - 3"}).Options.ByteSequenceIndex, 1);
}

TEST(PollOptions, HostForms) {
  EXPECT_EQ(Parse({"--tcp", "[::1]:1502"}).Options.Tcp.Host, "::1");
  EXPECT_EQ(Parse({"--tcp", "[::1]:1502"}).Options.Tcp.Port, 1502);
  EXPECT_EQ(Parse({"--tcp", "fe80::2"}).Options.Tcp.Host, "fe80::2");
  EXPECT_EQ(Parse({"--tcp", "fe80::2"}).Options.Tcp.Port, 502);
}

TEST(PollOptions, BadArgumentsAreErrorsThatNameTheOption) {
  // Each row: the arguments and the option the message must name.
  const std::vector<std::pair<std::vector<std::string>, std::string>> named = {
      {{"--tcp", "h:0"}, "--tcp"},
      {{"--tcp", "h", "--meter", "0"}, "--meter"},
      {{"--tcp", "h", "--unit", "256"}, "--unit"},
      {{"--tcp", "h", "--timeout", "0"}, "--timeout"},
      {{"--tcp", "h", "--connect-timeout", "-1"}, "--connect-timeout"},
      {{"--tcp", "h", "--format", "xml"}, "--format"},
      {{"--tcp", "h", "--bom"}, "--bom"},  // csv only
      {{"--tcp", "h", "--format", "json", "--timestamps"}, "--timestamps"},
      {{"--tcp", "h", "--serve-metrics", "h"}, "--serve-metrics"},  // no port
      {{"--serial", "p", "--unit", "1"}, "--unit"},
      {{"--tcp", "h", "--read", "65535:2"}, "--read"},  // past the last register
      {{"--tcp", "h", "--write", "3"}, "--write"},      // no value
      {{"--tcp", "h", "--max-drift", "5"}, "--max-drift"},
      {{"--tcp", "h", "--write", "3=1", "--function", "4"}, "--function"},
      {{"--tcp", "h", "--read", "3", "--clock"}, "--read"},
  };
  for (const auto& [arguments, option] : named) {
    const auto parsed = Parse(arguments);
    EXPECT_EQ(parsed.Action, TParsedCommandLine::TAction::Error) << option;
    EXPECT_NE(parsed.Error.find(option), std::string::npos) << parsed.Error;
  }

  const std::vector<std::vector<std::string>> bad = {
      {},                // no device
      {"--meter", "2"},  // still no device
      {"--tcp"},         // missing value
      {"--tcp", ""},     // empty host
      {"--tcp", "h:"},   // empty port
      {"--tcp", "h:0"},
      {"--tcp", "h:65536"},
      {"--tcp", "h:5o2"},
      {"--tcp", "[::1"},
      {"--tcp", "[::1]x"},
      {"--tcp", "a", "--tcp", "b"},  // two devices
      {"--tcp", "h", "--meter", "0"},
      {"--tcp", "h", "--meter", "6"},
      {"--tcp", "h", "--meter", "1.5"},
      {"--tcp", "h", "--count", "0"},
      {"--tcp", "h", "--count", "-3"},
      {"--tcp", "h", "--count", "99999999999"},
      {"--tcp", "h", "--interval", "-1"},
      {"--tcp", "h", "--interval", "abc"},
      {"--tcp", "h", "--interval", "nan"},
      {"--tcp", "h", "--interval", ""},
      {"--tcp", "h", "--byte-order", "1-2-3-4"},
      {"--tcp", "h", "--format", "xml"},
      {"--tcp", "h", "--map", ""},
      {"--tcp", "h", "--float32=yes"},        // a flag takes no value
      {"--tcp", "h", "--qvzt", "--float32"},  // the QVZT map has no float32 layout
      {"--tcp", "h", "--qvzt", "--byte-order", "1-0-3-2"},
      {"--tcp", "h", "--verbose"},
      {"--tcp", "h", "extra"},
  };
  for (const auto& arguments : bad) {
    std::string joined;
    for (const auto& a : arguments) joined += a + " ";
    const auto parsed = Parse(arguments);
    EXPECT_EQ(parsed.Action, TParsedCommandLine::TAction::Error) << joined;
    EXPECT_FALSE(parsed.Error.empty()) << joined;
  }
}

TEST(PollOptions, HelpAndVersionWinOverEverythingElse) {
  EXPECT_EQ(Parse({"--bogus", "--help"}).Action,
            TParsedCommandLine::TAction::Error);  // read in order
  EXPECT_EQ(Parse({"--tcp", "h", "--help"}).Action, TParsedCommandLine::TAction::Help);
  EXPECT_EQ(Parse({"-h"}).Action, TParsedCommandLine::TAction::Help);
  EXPECT_EQ(Parse({"--version"}).Action, TParsedCommandLine::TAction::Version);
  const std::string usage = PollUsage("kq517poll");
  for (const char* option :
       {"--tcp",  "--meter",      "--float32",         "--qvzt",       "--byte-order",
        "--map",  "--leave-open", "--interval",        "--count",      "--format",
        "--unit", "--timeout",    "--connect-timeout", "--keep-going", "--timestamps",
        "--bom",  "--log",        "--serve-metrics",   "jsonl",        "Exit status"})
    EXPECT_NE(usage.find(option), std::string::npos) << option;
}

}  // namespace
